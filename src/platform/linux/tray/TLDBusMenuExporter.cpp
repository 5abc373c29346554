#include "platform/linux/tray/TLDBusMenuExporter.h"

#include "platform/linux/tray/TLDBusMenuProperties.h"

#include <QAction>
#include <QActionGroup>
#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>

#include <functional>

namespace {

const QString kErrorUnknownId = QStringLiteral("com.canonical.dbusmenu.UnknownId");

constexpr int kBurstMs = 50;

// Deeper menus than this are not followed: a menu that holds itself would never end.
constexpr int kMaxDepth = 16;

} // namespace

// The interface on the bus. It checks what the caller sent and answers unknown ids with the
// protocol's error; the exporter does the work.
class TLDBusMenuAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit TLDBusMenuAdaptor(TLDBusMenuExporter* exporter)
        : QDBusAbstractAdaptor(exporter), _exporter(exporter) {
        setAutoRelaySignals(false);
    }

    uint version() const { return 3; }
    QString textDirection() const {
        return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                     : QStringLiteral("ltr");
    }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   TLDBusMenuLayoutItem& layout) {
        bool found = false;
        const uint revision =
            _exporter->layout(parentId, recursionDepth, propertyNames, layout, found);
        if (!found) unknownId(parentId);
        return revision;
    }

    // (The lists are spelt out: QtDBus knows the types by these names.)
    QList<TLDBusMenuItem> GetGroupProperties(const QList<int>& ids,
                                             const QStringList& propertyNames) {
        return _exporter->groupProperties(ids, propertyNames);
    }

    QDBusVariant GetProperty(int id, const QString& name) {
        QVariant value;
        if (!_exporter->property(id, name, value)) unknownId(id);
        return QDBusVariant(value.isValid() ? value : QVariant(QString()));
    }

    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp) {
        (void)data;
        (void)timestamp;
        if (!_exporter->handleEvent(id, eventId)) unknownId(id);
    }

    QList<int> EventGroup(const QList<TLDBusMenuEvent>& events) {
        QList<int> idErrors;
        for (const TLDBusMenuEvent& e : events)
            if (!_exporter->handleEvent(e.id, e.eventId)) idErrors.append(e.id);
        if (!events.isEmpty() && idErrors.size() == events.size())
            sendError(QStringLiteral("None of the ids is in the menu"));
        return idErrors;
    }

    bool AboutToShow(int id) {
        bool needUpdate = false;
        if (!_exporter->aboutToShow(id, needUpdate)) unknownId(id);
        return needUpdate;
    }

    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        QList<int> updatesNeeded;
        for (int id : ids) {
            bool needUpdate = false;
            if (!_exporter->aboutToShow(id, needUpdate))
                idErrors.append(id);
            else if (needUpdate)
                updatesNeeded.append(id);
        }
        if (!ids.isEmpty() && idErrors.size() == ids.size())
            sendError(QStringLiteral("None of the ids is in the menu"));
        return updatesNeeded;
    }

signals:
    void ItemsPropertiesUpdated(const QList<TLDBusMenuItem>& updatedProps,
                                const QList<TLDBusMenuItemKeys>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    void unknownId(int id) { sendError(QStringLiteral("No item with id %1").arg(id)); }
    void sendError(const QString& text) { _exporter->failCall(kErrorUnknownId, text); }

    TLDBusMenuExporter* _exporter;
};

TLDBusMenuExporter::TLDBusMenuExporter(QDBusConnection bus, const QString& path, QObject* parent)
    : QObject(parent), _bus(std::move(bus)), _path(path) {
    TLRegisterDBusMenuTypes();
    _root.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    _adaptor = new TLDBusMenuAdaptor(this);
    _refresh.setSingleShot(true);
    // A burst of changes is compared once: an action that toggles its own check mark and the
    // owner's rebuild of the menu right after it are one change.
    _refresh.setInterval(kBurstMs);
    connect(&_refresh, &QTimer::timeout, this, [this] {
        if (_held == 0) refresh();
    });
    if (_bus.isConnected())
        _exported = _bus.registerObject(_path, this, QDBusConnection::ExportAdaptors);
}

TLDBusMenuExporter::~TLDBusMenuExporter() {
    if (_exported) _bus.unregisterObject(_path);
}

void TLDBusMenuExporter::setMenu(QMenu* menu) {
    if (_menu == menu) return;
    if (_menu) disconnect(_menu, &QObject::destroyed, this, nullptr);
    _menu = menu;
    if (menu) connect(menu, &QObject::destroyed, this, [this] { changed(); });
    refresh();
}

void TLDBusMenuExporter::setLeadingActions(const QList<QAction*>& actions) {
    QList<QPointer<QAction>> leading(actions.cbegin(), actions.cend());
    if (leading == _leading) return;
    _leading = std::move(leading);
    refresh();
}

void TLDBusMenuExporter::failCall(const QString& name, const QString& text) {
    // QtDBus sets the call's context on the object that holds the adaptor.
    if (calledFromDBus()) sendErrorReply(name, text);
}

bool TLDBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved:
    case QEvent::ActionChanged:
        changed();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void TLDBusMenuExporter::changed() {
    _dirty = true;
    if (!_refresh.isActive()) _refresh.start();
}

bool TLDBusMenuExporter::Node::sameTree(const Node& other) const {
    if (id != other.id || properties != other.properties ||
        children.size() != other.children.size())
        return false;
    for (size_t i = 0; i < children.size(); ++i)
        if (!children[i].sameTree(other.children[i])) return false;
    return true;
}

TLDBusMenuExporter::Node TLDBusMenuExporter::snapshot() {
    Node root;
    root.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    root.menu = _menu;
    QHash<QString, int> ids;
    for (qsizetype i = 0; i < _leading.size(); ++i)
        if (_leading.at(i)) addItem(root, _leading.at(i), QStringLiteral("lead%1").arg(i), 0, ids);
    if (_menu) fill(root, _menu, 0, ids);
    _ids = std::move(ids);
    return root;
}

void TLDBusMenuExporter::fill(Node& node, QMenu* menu, int depth, QHash<QString, int>& ids) {
    if (depth >= kMaxDepth) return;
    menu->installEventFilter(this); // installing again keeps one filter
    const QList<QAction*> actions = menu->actions();
    node.children.reserve(node.children.size() + size_t(actions.size()));
    for (qsizetype i = 0; i < actions.size(); ++i)
        addItem(node, actions.at(i), QString::number(i), depth, ids);
}

void TLDBusMenuExporter::addItem(Node& node, QAction* action, const QString& place, int depth,
                                 QHash<QString, int>& ids) {
    // "parent id:place:label" (neither the id nor the place holds a ':', so no two places share
    // a key).
    const QString key = QStringLiteral("%1:%2:").arg(node.id).arg(place) +
                        (action->isSeparator() ? QStringLiteral("-") : action->text());
    int id = _ids.value(key, 0);
    if (id == 0) id = ++_lastId;
    ids.insert(key, id);
    Node child;
    child.id = id;
    child.action = action;
    child.properties = TLDBusMenuProperties(action);
    if (QMenu* submenu = action->menu(); submenu && !action->isSeparator()) {
        child.menu = submenu;
        fill(child, submenu, depth + 1, ids);
    }
    node.children.push_back(std::move(child));
}

bool TLDBusMenuExporter::refresh() {
    _refresh.stop();
    _dirty = false;
    Node next = snapshot();
    if (next.sameTree(_root)) {
        _root = std::move(next); // the same items, perhaps new actions behind them
        return false;
    }
    TLDBusMenuItemList updated;
    TLDBusMenuItemKeysList removed;
    diff(_root, next, updated, removed);
    _root = std::move(next);
    ++_revision;
    _primed.clear();
    emit _adaptor->LayoutUpdated(_revision, 0);
    if (!updated.isEmpty() || !removed.isEmpty())
        emit _adaptor->ItemsPropertiesUpdated(updated, removed);
    emit layoutChanged(_revision);
    return true;
}

void TLDBusMenuExporter::diff(const Node& before, const Node& after, TLDBusMenuItemList& updated,
                              TLDBusMenuItemKeysList& removed) {
    QHash<int, const Node*> old;
    std::function<void(const Node&)> index = [&](const Node& n) {
        old.insert(n.id, &n);
        for (const Node& c : n.children)
            index(c);
    };
    index(before);
    std::function<void(const Node&)> compare = [&](const Node& n) {
        if (const Node* was = old.value(n.id, nullptr)) {
            TLDBusMenuItem changed{n.id, {}};
            for (auto it = n.properties.constBegin(); it != n.properties.constEnd(); ++it)
                if (was->properties.value(it.key()) != it.value())
                    changed.properties.insert(it.key(), it.value());
            TLDBusMenuItemKeys gone{n.id, {}};
            for (auto it = was->properties.constBegin(); it != was->properties.constEnd(); ++it)
                if (!n.properties.contains(it.key())) gone.properties.append(it.key());
            if (!changed.properties.isEmpty()) updated.append(changed);
            if (!gone.properties.isEmpty()) removed.append(gone);
        }
        for (const Node& c : n.children)
            compare(c);
    };
    compare(after);
}

const TLDBusMenuExporter::Node* TLDBusMenuExporter::find(const Node& node, int id) {
    if (node.id == id) return &node;
    for (const Node& c : node.children)
        if (const Node* found = find(c, id)) return found;
    return nullptr;
}

const TLDBusMenuExporter::Node* TLDBusMenuExporter::find(int id) const {
    return find(_root, id);
}

TLDBusMenuLayoutItem TLDBusMenuExporter::layoutOf(const Node& node, int depth,
                                                  const QStringList& names) {
    TLDBusMenuLayoutItem item;
    item.id = node.id;
    item.properties = TLDBusMenuOnly(node.properties, names);
    if (depth == 0) return item;
    for (const Node& c : node.children)
        item.children.append(layoutOf(c, depth < 0 ? -1 : depth - 1, names));
    return item;
}

uint TLDBusMenuExporter::layout(int parentId, int depth, const QStringList& names,
                                TLDBusMenuLayoutItem& out, bool& found) {
    if (_dirty) refresh();
    const Node* node = find(parentId);
    found = node != nullptr;
    if (node) out = layoutOf(*node, depth, names);
    if (node && depth >= 0 && calledFromDBus()) primeSubmenus(*node, depth, message().service());
    return _revision;
}

// A host that reads the menu a level at a time (Plasma's) fills a submenu only once it has opened
// it: sized empty, it grows in place and may then reach past the screen's edge. Told once that
// each submenu it has not read has items, it reads them ahead.
void TLDBusMenuExporter::primeSubmenus(const Node& node, int depth, const QString& host) {
    std::vector<int> unread;
    const std::function<void(const Node&, int)> collect = [&](const Node& n, int left) {
        for (const Node& c : n.children) {
            if (c.children.empty()) continue;
            if (left <= 1)
                unread.push_back(c.id);
            else
                collect(c, left - 1);
        }
    };
    collect(node, depth);
    for (const int id : unread) {
        const QString key = QStringLiteral("%1/%2/%3").arg(host).arg(_revision).arg(id);
        if (_primed.contains(key)) continue;
        _primed.insert(key);
        QMetaObject::invokeMethod(
            this, [this, id] { emit _adaptor->LayoutUpdated(_revision, id); },
            Qt::QueuedConnection);
    }
}

TLDBusMenuItemList TLDBusMenuExporter::groupProperties(const QList<int>& ids,
                                                       const QStringList& names) {
    if (_dirty) refresh();
    TLDBusMenuItemList items;
    for (int id : ids)
        if (const Node* node = find(id))
            items.append({id, TLDBusMenuOnly(node->properties, names)});
    return items;
}

bool TLDBusMenuExporter::property(int id, const QString& name, QVariant& value) {
    if (_dirty) refresh();
    const Node* node = find(id);
    if (!node) return false;
    value = node->properties.value(name);
    return true;
}

bool TLDBusMenuExporter::handleEvent(int id, const QString& eventId) {
    // The host's ids name an item by its place and label: after a rebuild they find the new
    // action in that place.
    if (_dirty) refresh();
    const Node* node = find(id);
    if (!node) return false;
    if (eventId != QLatin1String("clicked") || !node->action || node->menu) return true;
    QPointer<QAction> action = node->action;
    // After the reply: what the action runs may open a window or a menu of its own.
    QTimer::singleShot(0, this, [this, action] {
        if (!action || !action->isEnabled() || action->isSeparator()) return;
        // What the action changes and what its owner's queued answers to it change (a menu
        // rebuilt with the new check marks) are one change: compared once they have run.
        ++_held;
        const QActionGroup* group = action->actionGroup();
        const bool exclusive = group && group->isExclusive();
        if (!exclusive && action->isChecked() && TLDBusMenuSingleChoice(action))
            emit action->triggered(true); // a chosen item stays chosen, unlike a check box
        else
            action->trigger();
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (--_held == 0 && _dirty) refresh();
            },
            Qt::QueuedConnection);
    });
    return true;
}

bool TLDBusMenuExporter::aboutToShow(int id, bool& needUpdate) {
    if (_dirty) refresh();
    const Node* node = find(id);
    if (!node) return false;
    needUpdate = false;
    if (QPointer<QMenu> menu = node->menu) {
        emit menu->aboutToShow(); // the owner brings the menu up to date
        needUpdate = refresh();
    }
    return true;
}

#include "TLDBusMenuExporter.moc"
