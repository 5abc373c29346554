#pragma once
#include <QObject>
#include <QString>

class QLocalServer;

// Keeps one running copy per user: a newly started copy asks the running one to quit and takes
// its place.
//
// On Linux the rendezvous is a local socket in the abstract namespace, named after the
// application identifier and the user id. The kernel releases it when its owner exits, crashed or
// not, so no stale file can ever stand in the way of a start. Only a peer of the same user may ask
// an instance to quit.
class TLSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TLSingleInstance(const QString& appId, QObject* parent = nullptr);
    ~TLSingleInstance() override;

    // Asks a running copy to quit (the request is not confirmed), then listens for later copies.
    // While the old copy has not yet released the name, listening is retried in the background.
    void start();

    // Whether this copy now holds the name.
    bool isListening() const;

    QString serverName() const { return _name; }

signals:
    // A newer copy asked this one to quit.
    void quitRequested();

private:
    bool tryListen();
    void onNewConnection();

    QString _name;
    QLocalServer* _server = nullptr;
    int _retries = 0;
};
