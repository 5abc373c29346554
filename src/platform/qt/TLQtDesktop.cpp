// The desktop pieces that Qt provides alike on every system: menus popped up at a point, and the
// serial background queue. The status item has its own file (TLTrayStatusItem.cpp).

#include "platform/TLPopover.h"
#include "platform/TLSerialQueue.h"

#include <QApplication>
#include <QMenu>
#include <QMetaObject>
#include <QThread>
#include <QWidget>

namespace {

class QtMenuPresenter final : public TLMenuPresenter {
public:
    void popUp(QMenu* menu, const QPoint& at, QWidget* view) override {
        menu->popup(view ? view->mapToGlobal(at) : at);
    }
};

// Jobs run in order on one worker thread; completions return to the main thread in order.
class ThreadQueue final : public TLSerialQueue {
public:
    explicit ThreadQueue(const QString& label) {
        _thread.setObjectName(label);
        _worker.moveToThread(&_thread);
        _thread.start(QThread::LowPriority);
    }
    ~ThreadQueue() override {
        _thread.quit();
        _thread.wait();
    }
    void async(std::function<void()> work, std::function<void()> done) override {
        QMetaObject::invokeMethod(
            &_worker,
            [work = std::move(work), done = std::move(done)]() mutable {
                work();
                if (done) QMetaObject::invokeMethod(qApp, std::move(done), Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }

private:
    QThread _thread;
    QObject _worker;
};

} // namespace

std::unique_ptr<TLMenuPresenter> TLMakeMenuPresenter() {
    return std::make_unique<QtMenuPresenter>();
}
std::unique_ptr<TLSerialQueue> TLMakeSerialQueue(const QString& label) {
    return std::make_unique<ThreadQueue>(label);
}
