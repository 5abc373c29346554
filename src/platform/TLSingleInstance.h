#pragma once
#include "platform/TLRendezvous.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <list>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

// Keeps one running copy per user: a newly started copy asks the running one to quit and takes
// its place. Another start may instead ask the running copy to open or close its panel
// (`tide --toggle`, `tide --show`) and leave it running.
//
// The rendezvous is a socket file, named after the application identifier, in a directory only
// the user can reach, so that no other user can take the name first (TLRendezvous.h says which).
// A start asks the copies it finds in any of the directories it may look in, since one started in
// another environment may have chosen a later one. Besides, only a peer of the same user may ask
// anything of an instance, and a request goes only to an instance of the same user. Where no
// directory serves, a start says so on stderr and runs on its own, without the rendezvous.
//
// The requests are lines: "quit", answered by hanging up once the name is released; and
// "toggle" or "show", each optionally followed by a space and the activation token the sender's
// launcher gave it, answered with "ok".
//
// The listener survives whatever happens to single connections: a failed accept (no file
// descriptors left, say) only delays the connection waiting in the backlog. A peer may send a few
// short lines and no more; every complete line is read, and a peer past the bound is cut off.
class TLSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit TLSingleInstance(const QString& appId, QObject* parent = nullptr);
    // With the directories to try given, in place of TLRendezvousDirs().
    TLSingleInstance(const QString& appId, std::vector<TLRendezvousDir> dirs,
                     QObject* parent = nullptr);
    ~TLSingleInstance() override;

    // Chooses the rendezvous (making Tide's own directory if needed), asks every running copy to
    // quit (the request is not confirmed), then listens for later copies. While an old copy has
    // not yet released the name, listening is retried in the background.
    void start();

    // Whether this copy now holds the name.
    bool isListening() const;

    // What another start asks of the running copy's panel.
    enum class Request { Toggle, Show };
    // Sends `request` to a running copy and waits until it has accepted it (up to
    // kAnswerWaitMs). `activationToken` is the token this program was started with (none when
    // empty, or when it is not a token: see isActivationToken). False when no copy listens, when
    // the one listening is another user's, or when it does not answer in time. Needs no event
    // loop; this object need not be started.
    bool sendRequest(Request request, const QByteArray& activationToken = {}) const;

    // Whether `token` can be handed on: 1 to kMaxTokenBytes printable ASCII characters, no space.
    static bool isActivationToken(const QByteArray& token);

    // The path of the socket file this copy listens on, once started; empty when none serves.
    QString serverName() const { return _name; }

    // Bytes a peer may send before it is cut off, and peers served at a time (the oldest goes).
    static constexpr int kMaxPeerBytes = 4096;
    static constexpr size_t kMaxPeers = 32;
    static constexpr int kMaxTokenBytes = 1024;
    // How long a request waits for the running copy's answer.
    static constexpr int kAnswerWaitMs = 2000;

signals:
    // A newer copy asked this one to quit.
    void quitRequested();
    // Another start asked to open the panel if it is closed and to close it if it is open
    // (toggle), or to open it if it is closed (show). `activationToken` is the token its
    // launcher gave it (Wayland's XDG_ACTIVATION_TOKEN, an X11 startup id), empty when none.
    // Both come from the event loop, after the request has been answered.
    void toggleRequested(const QString& activationToken);
    void showRequested(const QString& activationToken);

private:
    struct Peer;

    void askRunningCopyToQuit();
    bool answerRequest(Peer* peer, const QByteArray& line);
    bool tryListen();
    void closeListener();
    void acceptPending();
    void restAccepting();
    void readPeer(Peer* peer);
    void dropPeer(Peer* peer);

    QString _socketName;
    std::vector<TLRendezvousDir> _dirs;
    QString _name;
    QStringList _lookPaths;
    int _listenFd = -1;
    unsigned long long _socketInode = 0; // of the socket file this copy created
    QSocketNotifier* _notifier = nullptr;
    QTimer* _acceptRetry = nullptr;
    std::list<std::unique_ptr<Peer>> _peers;
    std::vector<std::unique_ptr<Peer>> _closed; // hung up, notifiers not yet deleted
    int _retries = 0;
};
