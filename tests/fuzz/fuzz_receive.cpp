// The messenger receive path of a real frmMain without a socket: arbitrary bytes, cut into arbitrary chunks,
// through packet extraction, CP949 decoding and the dispatch into the login reply, the contact list, presence
// and the chat commands.
//
// Input: the low four bits of the first byte say how many chunk lengths follow (one byte each, 1 to 256,
// used in turn); they cut the rest of the input into the chunks that arrive one after the other. With no
// lengths the rest arrives as one chunk.
//
// Property: how TCP happens to cut the stream changes nothing. Once every packet has been taken out, the same
// stream as one chunk leaves the bot in the same state (who it is, the contact list, the queued command job)
// and logs the same lines.
//
// Nothing here runs a job or another program. The commands that queue a job only start tmrWork, and the
// keep-alive and the user list only start their timers; this program never runs an event loop, so no timer
// ever fires (and each would wait a day if one ran). "/webupdate" looks for its tool in the program folder,
// which is empty. Packets to send find no connection and are logged, never written anywhere else.
#include "FuzzSupport.h"
#include "SiblingTool.h"
#include "frmMain.h"
#include "modMain.h"
#include "modZEPProtocol.h"

#include <QFileInfo>
#include <memory>

namespace {

struct Chunks {
    QByteArray stream;
    QByteArray lengths;
};

Chunks split(const uint8_t* data, size_t size) {
    if (size == 0)
        return {};
    const size_t count = std::min<size_t>(data[0] & 0x0F, size - 1);
    return {FuzzSupport::bytesOf(data + 1 + count, size - 1 - count), FuzzSupport::bytesOf(data + 1, count)};
}

// What the bot made of a stream: everything the packets can change, and what it logged.
QString outcome(const frmMain& form, const QString& folder) {
    QString text = QStringLiteral("user %1 %2\n").arg(modMain::MyUserId).arg(modMain::MyName);
    const ContactList& contacts = form.contacts();
    text += QStringLiteral("contacts %1 online %2\n").arg(contacts.UserCount).arg(contacts.OnlineCount);
    for (const UserInfo& user : contacts.UserList)
        text += QStringLiteral("%1 %2 %3 %4\n")
                    .arg(user.UserId)
                    .arg(user.Name)
                    .arg(user.DeptCode)
                    .arg(user.Status);
    text += QStringLiteral("job %1\n").arg(form.commandJob().WorkJob);
    QFile log(folder + QStringLiteral("/ErrorLog.txt"));
    if (log.open(QIODevice::ReadOnly))
        for (const QByteArray& line : log.readAll().split('\n'))
            text += QString::fromLatin1(line.mid(13).toHex()) + QLatin1Char('\n'); // without the time stamp
    return text;
}

// Delivers the stream to a bot that has just connected, cut as `lengths` say (one chunk without any), and
// checks what must hold whatever arrived.
QString receive(const Chunks& chunks, const QByteArray& lengths, const QString& folder) {
    modMain::MyUserId = 0;
    modMain::MyName.clear();
    modZEPProtocol::ClearRecvBuffer(0);
    QFile::remove(folder + QStringLiteral("/ErrorLog.txt"));

    constexpr int Day = 24 * 60 * 60 * 1000;
    frmMain form(10015, frmMain::Intervals{Day, Day, Day, Day});
    form.InitUserTree();
    qsizetype at = 0, next = 0;
    while (at < chunks.stream.size()) {
        qsizetype length = chunks.stream.size() - at;
        if (!lengths.isEmpty()) {
            length = std::min<qsizetype>(length, quint8(lengths[next]) + 1);
            next = (next + 1) % lengths.size();
        }
        form.SckChat_Receive(chunks.stream.mid(at, length));
        at += length;
    }
    // A packet that reads as code 0 ends the receive loop, and what is behind it waits for the next arrival:
    // arrivals without bytes let it go on until the buffer stands still.
    for (QByteArray left = modZEPProtocol::RecvBufferContent(0);;) {
        form.SckChat_Receive(QByteArray());
        const QByteArray now = modZEPProtocol::RecvBufferContent(0);
        if (now == left)
            break;
        left = now;
    }

    const ContactList& contacts = form.contacts();
    if (contacts.UserCount < contacts.UserList.size() - 1)
        FuzzSupport::violated("UserCount covers every entry of the list");
    if (form.commandJob().WorkJob != 0 && !form.workTimer().isActive())
        FuzzSupport::violated("a queued command job has its work timer running");
    return outcome(form, folder);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString folder = FuzzSupport::programFolder();
    if (QFileInfo::exists(folder + QLatin1Char('/') + SiblingTool::CodeUpdaterFileName()))
        FuzzSupport::violated("the program folder holds no tool to start");

    const Chunks chunks = split(data, size);
    const QString cut = receive(chunks, chunks.lengths, folder);
    if (!chunks.lengths.isEmpty()) {
        const QString whole = receive(chunks, QByteArray(), folder);
        if (cut != whole)
            FuzzSupport::violated("the stream cut into chunks is read as the whole stream is",
                                  QStringLiteral("cut:\n%1\nwhole:\n%2").arg(cut, whole));
    }
    QFile::remove(folder + QStringLiteral("/ErrorLog.txt"));
    return 0;
}
