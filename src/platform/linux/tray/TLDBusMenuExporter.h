#pragma once
// A QMenu on the session bus as com.canonical.dbusmenu, for a host that shows the item's menu
// itself; it tells the host only of real changes. What it exports and when: docs/tray-on-linux.md.

#include "platform/linux/tray/TLDBusMenuTypes.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <vector>

class QAction;
class QMenu;
class TLDBusMenuAdaptor;

class TLDBusMenuExporter : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    // Exports at `path` on `bus` (nothing when the bus is not connected or the path is taken).
    explicit TLDBusMenuExporter(QDBusConnection bus,
                                const QString& path = QStringLiteral("/MenuBar"),
                                QObject* parent = nullptr);
    ~TLDBusMenuExporter() override;

    // The menu to export; null exports an empty menu. The exporter does not own it.
    void setMenu(QMenu* menu);
    // Items exported before the menu's own (the exporter does not own them): a host's menu may
    // need items that the menu itself, shown elsewhere, does not have.
    void setLeadingActions(const QList<QAction*>& actions);
    QString path() const { return _path; }
    bool isExported() const { return _exported; }
    // The layout's revision: it grows with every change the host is told of.
    uint revision() const { return _revision; }

    // What the bus asks, answered here (the adaptor checks the callers' arguments' ids).
    uint layout(int parentId, int depth, const QStringList& names, TLDBusMenuLayoutItem& out,
                bool& found);
    TLDBusMenuItemList groupProperties(const QList<int>& ids, const QStringList& names);
    bool property(int id, const QString& name, QVariant& value);
    // Whether an item with `id` exists; a "clicked" event on it triggers its action.
    bool handleEvent(int id, const QString& eventId);
    // Whether the id is a menu; `needUpdate`: whether its items changed on the owner's refresh.
    bool aboutToShow(int id, bool& needUpdate);

signals:
    // After an exported change; for tests and the item.
    void layoutChanged(uint revision);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TLDBusMenuAdaptor;
    // Answers the call being handled with an error.
    void failCall(const QString& name, const QString& text);

    struct Node {
        int id = 0;
        QVariantMap properties;
        std::vector<Node> children;
        QPointer<QAction> action;
        QPointer<QMenu> menu; // the submenu (or the root menu) the node opens

        bool sameTree(const Node& other) const;
    };

    Node snapshot();
    void fill(Node& node, QMenu* menu, int depth, QHash<QString, int>& ids);
    void addItem(Node& node, QAction* action, const QString& place, int depth,
                 QHash<QString, int>& ids);
    // The menu changed: compared at the end of the burst.
    void changed();
    // Takes a fresh snapshot and tells the host when it differs; returns whether it did.
    bool refresh();
    const Node* find(int id) const;
    static const Node* find(const Node& node, int id);
    static void diff(const Node& before, const Node& after, TLDBusMenuItemList& updated,
                     TLDBusMenuItemKeysList& removed);
    static TLDBusMenuLayoutItem layoutOf(const Node& node, int depth, const QStringList& names);
    void primeSubmenus(const Node& node, int depth, const QString& host);

    QDBusConnection _bus;
    QString _path;
    TLDBusMenuAdaptor* _adaptor = nullptr;
    bool _exported = false;
    QPointer<QMenu> _menu;
    QList<QPointer<QAction>> _leading;
    Node _root;
    QHash<QString, int> _ids; // an item's parent, place and label → its id
    QSet<QString> _primed;    // host/revision/submenu already told of its items
    int _lastId = 0;
    uint _revision = 1;
    QTimer _refresh;     // a burst of changes to the menu, compared once
    bool _dirty = false; // the menu changed since the last comparison
    int _held = 0;       // clicks whose changes are still coming
};
