#pragma once
// The status item as Tide's own org.kde.StatusNotifierItem on the session bus, for a panel that
// draws the icon itself: unlike Qt's tray icon it keeps where the host says a click was and the
// activation token it provides. What it offers on the bus and what it does with the host's calls:
// docs/tray-on-linux.md.

#include "platform/TLStatusItem.h"
#include "platform/linux/TLSessionBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QGuiApplication>
#include <QList>
#include <QMetaType>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TLDBusMenuExporter;
class TLStatusNotifierItemAdaptor;
class QAction;
class QDBusServiceWatcher;

// One picture of the icon: width, height and the pixels, ARGB32 in network byte order: (iiay).
struct TLSniPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using TLSniPixmapList = QList<TLSniPixmap>;

// The tool tip: icon name, icon pixmaps, title and text: (sa(iiay)ss).
struct TLSniToolTip {
    QString iconName;
    TLSniPixmapList pixmaps;
    QString title;
    QString text;
};

QDBusArgument& operator<<(QDBusArgument& arg, const TLSniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& arg, TLSniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& arg, const TLSniToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& arg, TLSniToolTip& toolTip);
Q_DECLARE_METATYPE(TLSniPixmap)
Q_DECLARE_METATYPE(TLSniToolTip)

// Whether a host in the process named `hostProcess` sends positions on the screen with its clicks
// (on Wayland only the desktop's own shell can know them).
bool TLHostTellsScreenPosition(const QString& hostProcess, bool wayland);

// The sizes the hosts draw the icon at (and their doubles for high-density screens).
inline constexpr int TLSniIconSizes[] = {16, 22, 24, 32, 44, 48, 64};

// TLSniIconSizes and, for each screen scale other than 1, the tray's sizes (16, 22, 24, 32) at that
// scale, rounded (150 %: 24, 33, 36, 48), in ascending order without repeats: a host on such a
// screen finds the size it draws at, and its icon is not resampled from a neighbour's.
std::vector<int> TLSniIconSizesFor(const std::vector<qreal>& scales);

// The pictures of `icon` at `sizes` (each fitted into its square).
TLSniPixmapList TLSniPixmapsOf(const QIcon& icon, const std::vector<int>& sizes);

class TLStatusNotifierItem final : public TLStatusItem, protected QDBusContext {
    Q_OBJECT
public:
    // On `bus` (the session bus where not told otherwise); the watcher is looked for there.
    explicit TLStatusNotifierItem(QDBusConnection bus = TLSessionBus());
    ~TLStatusNotifierItem() override;

    // Whether the item and its menu are on the bus under its service name.
    bool isExported() const { return _exported; }
    bool isDetached() const override { return !_exported || !_bus.isConnected(); }
    // Whether the watcher has accepted the item (the last registration succeeded).
    bool isRegistered() const { return _registered; }
    QString serviceName() const { return _service; }
    // The last token a host provided; empty when none came.
    QString activationToken() const { return _activationToken; }

    void setIcon(const QIcon& icon, quint64 key) override;
    void setTitle(const QString& title) override;
    void setToolTip(const QString& text) override;
    void setToolTipSuppressed(bool suppressed) override;
    QRect geometry() const override { return {}; }
    QRect anchor() const override;
    std::optional<QPoint> clickHint() const override { return _hint; }
    void popUpMenu(QMenu* menu) override;
    void setContextMenu(QMenu* menu) override;

    // What the adaptor reads and is told.
    const TLSniPixmapList& pixmaps() const { return _pixmaps; }
    TLSniToolTip toolTip() const;
    QString title() const { return _title; }
    // The label hosts show beside the picture: the title while labels are shown, else empty.
    QString label() const { return _labelShown ? _title : QString(); }
    void setLabelShown(bool shown);
    bool showsTitleAsText() const override { return _labelShown; }
    // Whether the host is GNOME Shell's extension (learnt from the bus at each registration).
    bool hostIsShellExtension() const { return _hostIsShell; }
    void setHostIsShellExtension(bool shell);
    void hostClicked(Button button, int x, int y, bool screenPosition = true);
    // Whether the host making the call being handled sends positions on the screen (asked of
    // the bus once for each host connection).
    bool callerTellsScreenPosition();
    // Whether the program runs on Wayland (from Qt's platform; tests set it).
    void setWayland(bool wayland) { _wayland = wayland; }
    void hostProvidedToken(const QString& token);
    // A host fetches the tool tip again at each NewToolTip: a round trip for the item's threads
    // at every tick, since its figures change that often. A tool tip whose only change is its
    // figures is therefore told of with the next change of the picture or the title, or
    // `toolTipDelay` (30 s) after it was last told, whichever comes first; it reads as it is
    // whenever a host asks. `now` gives the time in seconds (tests set it).
    void setClock(std::function<double()> now) { _now = std::move(now); }
    static constexpr double toolTipDelay = 30;

signals:
    // The watcher accepted the item.
    void registered();

private:
    void registerWithWatcher();
    void learnHostKind();

    QDBusConnection _bus;
    QString _service;
    TLStatusNotifierItemAdaptor* _adaptor = nullptr;
    std::unique_ptr<TLDBusMenuExporter> _menu;
    QDBusServiceWatcher* _watcher = nullptr;
    bool _exported = false;
    bool _registered = false;
    bool _hasIcon = false;
    quint64 _key = 0;
    TLSniPixmapList _pixmaps;
    std::vector<int> _sizes; // the sizes of _pixmaps
    QString _title;
    bool _labelShown = false;
    QString _toolTip;
    bool _toolTipSuppressed = false;
    QString _toldToolTip;               // the tool tip hosts were last told of
    double _toolTipToldAt = -1e9;       // when
    bool _seenChangedSinceTold = false; // the picture or the title changed since
    std::function<double()> _now;
    std::optional<QPoint> _click;
    bool _fromMenu = false;               // the last opening came from 显示面板
    std::optional<QPoint> _lastHostClick; // the last position a host told
    std::optional<QPoint> _hint; // the last click as the host told it, screen position or not
    bool _wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    QString _caller; // the last host connection asked about
    bool _callerTells = false;
    bool _hostIsShell = false;
    QAction* _showPanel = nullptr;
    QAction* _showPanelSeparator = nullptr;
    QString _activationToken;
};
