#include "panel/TLAccessible.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QHash>
#include <QWidget>

namespace {

QHash<const QObject*, TLAccessibleDescription>& descriptions() {
    static QHash<const QObject*, TLAccessibleDescription> all;
    return all;
}

// The name a reader was last told of (or had from the start), for each described widget.
QHash<const QObject*, QString>& toldNames() {
    static QHash<const QObject*, QString> all;
    return all;
}

const TLAccessibleDescription* descriptionOf(const QObject* object) {
    const auto it = descriptions().constFind(object);
    return it == descriptions().constEnd() ? nullptr : &*it;
}

class DescribedWidget final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    DescribedWidget(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    QString text(QAccessible::Text t) const override {
        if (const TLAccessibleDescription* d = descriptionOf(object())) {
            if (t == QAccessible::Name && d->name) return d->name();
            if (t == QAccessible::Value && d->valueText) return d->valueText();
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (const TLAccessibleDescription* d = descriptionOf(object())) {
            if (d->selected) {
                s.selectable = true;
                s.selected = d->selected();
            }
            if (d->focused) {
                s.focusable = true;
                s.focused = d->focused();
            }
        }
        return s;
    }

    // A figure is labelled by its caption, and the caption labels the figure.
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override {
        QList<QPair<QAccessibleInterface*, QAccessible::Relation>> found =
            QAccessibleWidget::relations(match);
        const TLAccessibleDescription* d = descriptionOf(object());
        if ((match & QAccessible::Label) && d && d->labelledBy)
            if (QAccessibleInterface* caption =
                    QAccessible::queryAccessibleInterface(d->labelledBy))
                found.append({caption, QAccessible::Label});
        if (match & QAccessible::Labelled)
            for (auto it = descriptions().cbegin(); it != descriptions().cend(); ++it)
                if (it->labelledBy == object())
                    if (QAccessibleInterface* figure =
                            QAccessible::queryAccessibleInterface(const_cast<QObject*>(it.key())))
                        found.append({figure, QAccessible::Labelled});
        return found;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        const TLAccessibleDescription* d = descriptionOf(object());
        if (type == QAccessible::ValueInterface && d && d->value)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override {
        const TLAccessibleDescription* d = descriptionOf(object());
        if (!d || !d->value) return {};
        const std::optional<double> v = d->value();
        return v ? QVariant(*v) : QVariant();
    }
    void setCurrentValue(const QVariant&) override {} // read only
    QVariant maximumValue() const override {
        const TLAccessibleDescription* d = descriptionOf(object());
        return d ? QVariant(d->maximum) : QVariant();
    }
    QVariant minimumValue() const override {
        const TLAccessibleDescription* d = descriptionOf(object());
        return d ? QVariant(d->minimum) : QVariant();
    }
    QVariant minimumStepSize() const override { return 0.1; }

    int childCount() const override {
        const TLAccessibleDescription* d = descriptionOf(object());
        if (d && d->leaf) return 0;
        if (!visibleOnly()) return QAccessibleWidget::childCount();
        return static_cast<int>(visibleChildren().size());
    }
    QAccessibleInterface* child(int index) const override {
        const TLAccessibleDescription* d = descriptionOf(object());
        if (d && d->leaf) return nullptr;
        if (!visibleOnly()) return QAccessibleWidget::child(index);
        const QList<QAccessibleInterface*> shown = visibleChildren();
        return index >= 0 && index < shown.size() ? shown[index] : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const TLAccessibleDescription* d = descriptionOf(object());
        if (d && d->leaf) return -1;
        if (!visibleOnly()) return QAccessibleWidget::indexOfChild(child);
        return static_cast<int>(visibleChildren().indexOf(child));
    }

private:
    bool visibleOnly() const {
        const TLAccessibleDescription* d = descriptionOf(object());
        return d && d->visibleChildrenOnly;
    }
    QList<QAccessibleInterface*> visibleChildren() const {
        QList<QAccessibleInterface*> shown;
        const int n = QAccessibleWidget::childCount();
        for (int i = 0; i < n; ++i) {
            QAccessibleInterface* c = QAccessibleWidget::child(i);
            if (c && !c->state().invisible) shown.append(c);
        }
        return shown;
    }
};

QAccessibleInterface* describedFactory(const QString&, QObject* object) {
    const TLAccessibleDescription* d = descriptionOf(object);
    if (!d || !object->isWidgetType()) return nullptr;
    return new DescribedWidget(static_cast<QWidget*>(object), d->role);
}

} // namespace

void TLDescribeAccessible(QWidget* widget, TLAccessibleDescription description) {
    static const bool installed = [] {
        QAccessible::installFactory(describedFactory);
        return true;
    }();
    (void)installed;
    if (!widget) return;
    // A label sends a name change with each new text unless it has a name of its own: it gets
    // one, which the description's name stands in for. A label with no text yet (a row before
    // its first process) gets one all the same.
    if (description.name) {
        const QString name = description.name();
        if (widget->accessibleName().isEmpty())
            widget->setAccessibleName(name.isEmpty() ? QStringLiteral(" ") : name);
        toldNames().insert(widget, name);
    }
    const bool known = descriptions().contains(widget);
    descriptions().insert(widget, std::move(description));
    // Qt may have made the widget's interface already (a label's first text, a widget shown): it
    // goes, and the next question makes the described one.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
        made && !dynamic_cast<DescribedWidget*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    if (!known)
        QObject::connect(widget, &QObject::destroyed, [widget] {
            descriptions().remove(widget);
            toldNames().remove(widget);
        });
}

namespace {
// What tests watch in place of a reader: the announcements, and the names told of.
using Watcher = std::function<void(QWidget*, const QString&)>;
enum class Watched { Announcements, NameChanges };
template <Watched>
Watcher& watcherOf() {
    static Watcher watcher;
    return watcher;
}
Watcher& announcementWatcher() {
    return watcherOf<Watched::Announcements>();
}
Watcher& nameChangeWatcher() {
    return watcherOf<Watched::NameChanges>();
}
} // namespace

void TLWatchAccessibleAnnouncements(std::function<void(QWidget*, const QString&)> watcher) {
    announcementWatcher() = std::move(watcher);
}

void TLAnnounceAccessible(QWidget* widget, const QString& text) {
    if (!widget || text.isEmpty()) return;
    if (announcementWatcher()) announcementWatcher()(widget, text);
    if (!QAccessible::isActive()) return;
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QAccessibleAnnouncementEvent event(widget, text);
    event.setPoliteness(QAccessible::AnnouncementPoliteness::Polite);
    QAccessible::updateAccessibility(&event);
#else
    QAccessibleEvent event(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
#endif
}

void TLAnnounceAccessibleFocus(QWidget* widget) {
    if (!widget || !QAccessible::isActive()) return;
    QAccessibleEvent event(widget, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

void TLAnnounceAccessibleChange(QWidget* widget, QAccessible::Event change) {
    if (!widget || !QAccessible::isActive()) return;
    QAccessibleEvent event(widget, change);
    QAccessible::updateAccessibility(&event);
}

void TLWatchAccessibleNameChanges(std::function<void(QWidget*, const QString&)> watcher) {
    nameChangeWatcher() = std::move(watcher);
}

int TLTellAccessibleNameChanges(std::chrono::steady_clock::time_point now,
                                std::chrono::milliseconds interval) {
    const bool listening = QAccessible::isActive();
    if (!listening && !nameChangeWatcher()) return 0;
    static std::optional<std::chrono::steady_clock::time_point> lastTold;
    if (lastTold && now - *lastTold < interval) return 0;
    lastTold = now;
    int told = 0;
    for (auto it = descriptions().cbegin(); it != descriptions().cend(); ++it) {
        const TLAccessibleDescription& d = it.value();
        auto* widget = static_cast<QWidget*>(const_cast<QObject*>(it.key()));
        if (!d.name || d.partOfNeighbour || !widget->isVisible() || widget->hasFocus()) continue;
        if (d.focused && d.focused()) continue;
        const QString name = d.name();
        QString& known = toldNames()[widget];
        if (name == known) continue;
        known = name;
        ++told;
        if (nameChangeWatcher()) nameChangeWatcher()(widget, name);
        if (listening) {
            QAccessibleEvent event(widget, QAccessible::NameChanged);
            QAccessible::updateAccessibility(&event);
        }
    }
    return told;
}
