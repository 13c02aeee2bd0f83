#include "SimScript.h"

#include "SimServer.h"
#include "SimText.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

// Keeps a bot that is never waited on from growing the packet log without bound.
constexpr std::size_t kMaxUnconsumed = 100000;

bool isNumber(const QString& text, int* value, bool allowNegative) {
    if (text.isEmpty())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!text[i].isDigit() && !(allowNegative && i == 0 && text[i] == u'-' && text.size() > 1))
            return false;
    bool ok = false;
    *value = text.toInt(&ok);
    return ok;
}

} // namespace

SimScript::SimScript(SimServer& server, int waitTimeoutMs, QObject* parent)
    : QObject(parent), server_(server), waitTimeoutMs_(waitTimeoutMs) {
    // Precise timers: a sleep or a timeout must never end early, not even by the coarse timers' 5%.
    sleepTimer_.setSingleShot(true);
    sleepTimer_.setTimerType(Qt::PreciseTimer);
    timeoutTimer_.setSingleShot(true);
    timeoutTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sleepTimer_, &QTimer::timeout, this, &SimScript::endWait);
    connect(&timeoutTimer_, &QTimer::timeout, this, &SimScript::onWaitTimeout);
    connect(&server_, &SimServer::packetReceived, this,
            [this](int code, const QString&, const QString& body) { onPacket(code, body); });
    connect(&server_, &SimServer::botConnected, this, &SimScript::onConnected);
    connect(&server_, &SimServer::botLoggedIn, this, &SimScript::onLoggedIn);
}

void SimScript::runLines(const QStringList& lines) {
    for (const QString& line : lines)
        queue_.append(line);
    scriptEnds_ = true;
    schedulePump();
}

void SimScript::readStandardInput() {
    if (fcntl(STDIN_FILENO, F_GETFD) == -1)
        return;
    stdinNotifier_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(stdinNotifier_, &QSocketNotifier::activated, this, &SimScript::onStdinReadable);
}

void SimScript::onStdinReadable() {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // End of input (or an unreadable stdin): run a last unterminated line, then stop listening.
        stdinNotifier_->setEnabled(false);
        if (!stdinPartial_.isEmpty())
            append(QString::fromUtf8(std::exchange(stdinPartial_, QByteArray())));
        return;
    }
    stdinPartial_.append(buffer, n);
    qsizetype newline;
    while ((newline = stdinPartial_.indexOf('\n')) >= 0) {
        append(QString::fromUtf8(stdinPartial_.left(newline)));
        stdinPartial_.remove(0, newline + 1);
    }
}

void SimScript::append(const QString& line) {
    queue_.append(line);
    schedulePump();
}

void SimScript::schedulePump() {
    // Commands always run from the event loop, never from inside a server signal: a reply the server is
    // still composing goes out before anything the script sends next.
    if (pumpScheduled_ || stopped_)
        return;
    pumpScheduled_ = true;
    QMetaObject::invokeMethod(this, &SimScript::pump, Qt::QueuedConnection);
}

void SimScript::pump() {
    pumpScheduled_ = false;
    while (!stopped_ && waiting_ == Waiting::Nothing && !queue_.isEmpty())
        execute(queue_.takeFirst());
    if (!stopped_ && waiting_ == Waiting::Nothing && queue_.isEmpty() && scriptEnds_) {
        scriptEnds_ = false;
        SimText::printLine(QStringLiteral("SIM script done"));
    }
}

bool SimScript::needBot() {
    if (server_.hasBot())
        return true;
    SimText::printLine(QStringLiteral("SIM no bot connected"));
    return false;
}

void SimScript::execute(const QString& rawLine) {
    QString line = rawLine;
    if (line.endsWith(u'\r'))
        line.chop(1);
    // Leading blanks are not part of a command; trailing ones may be part of a chat message.
    qsizetype first = 0;
    while (first < line.size() && (line[first] == u' ' || line[first] == u'\t'))
        ++first;
    line.remove(0, first);
    if (line.isEmpty() || line.startsWith(u'#'))
        return;

    const qsizetype space = line.indexOf(u' ');
    const QString word = space < 0 ? line : line.left(space);
    const QString rest = space < 0 ? QString() : line.mid(space + 1);
    const QStringList args = rest.split(u' ', Qt::SkipEmptyParts);
    const auto bad = [&] {
        SimText::printLine(QStringLiteral("SIM bad command %1").arg(SimText::escape(line)));
    };
    int id = 0;
    int value = 0;

    if (isNumber(word, &id, false)) {
        if (needBot())
            server_.sendPacket(1, QStringLiteral("%1;%2").arg(id).arg(server_.botId()),
                               SimText::unescapeToWire(rest));
    } else if (word == u"online" || word == u"offline") {
        if (args.size() != 1 || !isNumber(args[0], &id, false))
            return bad();
        // The server's own idea of who is online changes with or without a bot to tell.
        const bool online = word == u"online";
        server_.users().setStatus(id, online ? 1 : 0);
        if (!needBot())
            return;
        if (online)
            server_.sendPacket(10, QStringLiteral("0"), QStringLiteral("%1;127.0.0.1;0").arg(id).toLatin1());
        else
            server_.sendPacket(11, QStringLiteral("0"), QByteArray::number(id));
    } else if (word == u"status") {
        if (args.size() != 2 || !isNumber(args[0], &id, false) || !isNumber(args[1], &value, true))
            return bad();
        server_.users().setStatus(id, value);
        if (!needBot())
            return;
        server_.sendPacket(13, QStringLiteral("0"), QStringLiteral("%1;%2").arg(id).arg(value).toLatin1());
    } else if (word == u"keepalive") {
        if (!args.isEmpty())
            return bad();
        if (needBot())
            server_.sendPacket(59, QStringLiteral("0"), QByteArray());
    } else if (word == u"raw") {
        if (rest.isEmpty())
            return bad();
        if (needBot())
            server_.sendRaw(SimText::unescapeToWire(rest));
    } else if (word == u"drop") {
        if (!args.isEmpty())
            return bad();
        if (needBot())
            server_.dropBot();
    } else if (word == u"sleep") {
        if (args.size() != 1 || !isNumber(args[0], &value, false))
            return bad();
        beginWait(Waiting::Sleep);
        sleepTimer_.start(value);
    } else if (word == u"wait") {
        if (args.isEmpty() || !isNumber(args[0], &value, false))
            return bad();
        const qsizetype textStart = rest.indexOf(args[0]) + args[0].size() + 1;
        waitCode_ = value;
        waitText_ = textStart < rest.size() ? SimText::unescape(QStringView(rest).mid(textStart)) : QString();
        if (!takeMatchingPacket())
            beginWait(Waiting::Packet);
    } else if (word == u"waitlogin") {
        if (!args.isEmpty())
            return bad();
        if (!server_.loggedIn())
            beginWait(Waiting::Login);
    } else if (word == u"waitconnect") {
        if (!args.isEmpty())
            return bad();
        if (connectsSinceWait_ > 0)
            connectsSinceWait_ = 0;
        else
            beginWait(Waiting::Connect);
    } else if (word == u"quit") {
        stop(0);
    } else {
        SimText::printLine(QStringLiteral("SIM unknown command %1").arg(SimText::escape(line)));
    }
}

void SimScript::beginWait(Waiting what) {
    waiting_ = what;
    if (what != Waiting::Sleep && waitTimeoutMs_ > 0)
        timeoutTimer_.start(waitTimeoutMs_);
}

void SimScript::endWait() {
    waiting_ = Waiting::Nothing;
    timeoutTimer_.stop();
    schedulePump();
}

bool SimScript::takeMatchingPacket() {
    for (auto it = unconsumed_.begin(); it != unconsumed_.end(); ++it) {
        if (it->code == waitCode_ && it->body.contains(waitText_)) {
            unconsumed_.erase(it);
            return true;
        }
    }
    return false;
}

void SimScript::onPacket(int code, const QString& body) {
    unconsumed_.push_back({code, body});
    if (unconsumed_.size() > kMaxUnconsumed)
        unconsumed_.pop_front();
    if (waiting_ == Waiting::Packet && takeMatchingPacket())
        endWait();
}

void SimScript::onConnected() {
    if (waiting_ == Waiting::Connect)
        endWait();
    else
        ++connectsSinceWait_;
}

void SimScript::onLoggedIn() {
    if (waiting_ == Waiting::Login)
        endWait();
}

void SimScript::onWaitTimeout() {
    QString what;
    switch (waiting_) {
    case Waiting::Packet:
        what = QStringLiteral("%1 %2").arg(SimText::codeText(waitCode_), SimText::escape(waitText_));
        break;
    case Waiting::Login:
        what = QStringLiteral("login");
        break;
    case Waiting::Connect:
        what = QStringLiteral("connect");
        break;
    case Waiting::Sleep:
    case Waiting::Nothing:
        return;
    }
    SimText::printLine(QStringLiteral("SIM wait timeout %1").arg(what));
    stop(3);
}

void SimScript::stop(int status) {
    stopped_ = true;
    waiting_ = Waiting::Nothing;
    sleepTimer_.stop();
    timeoutTimer_.stop();
    if (stdinNotifier_)
        stdinNotifier_->setEnabled(false);
    emit exitRequested(status);
}
