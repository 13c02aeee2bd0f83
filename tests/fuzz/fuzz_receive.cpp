// The messenger receive path of a real frmMain without a socket: arbitrary bytes, cut into arbitrary chunks,
// through packet extraction, CP949 decoding and the dispatch into the login reply, the contact list, presence
// and the chat commands.
//
// Input: the low four bits of the first byte say how many chunk lengths follow (one byte each, 1 to 256,
// used in turn); they cut the rest of the input into the chunks that arrive one after the other. With no
// lengths the rest arrives as one chunk.
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

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString folder = FuzzSupport::programFolder();
    if (QFileInfo::exists(folder + QLatin1Char('/') + SiblingTool::CodeUpdaterFileName()))
        FuzzSupport::violated("the program folder holds no tool to start");

    // Every input meets a bot that has just connected.
    modMain::MyUserId = 0;
    modMain::MyName.clear();
    modZEPProtocol::ClearRecvBuffer(0);
    const Chunks chunks = split(data, size);

    {
        constexpr int Day = 24 * 60 * 60 * 1000;
        frmMain form(10015, frmMain::Intervals{Day, Day, Day, Day});
        form.InitUserTree();
        qsizetype at = 0, next = 0;
        while (at < chunks.stream.size()) {
            qsizetype length = chunks.stream.size() - at;
            if (!chunks.lengths.isEmpty()) {
                length = std::min<qsizetype>(length, quint8(chunks.lengths[next]) + 1);
                next = (next + 1) % chunks.lengths.size();
            }
            form.SckChat_Receive(chunks.stream.mid(at, length));
            at += length;
        }

        const ContactList& contacts = form.contacts();
        if (contacts.UserCount < contacts.UserList.size() - 1)
            FuzzSupport::violated("UserCount covers every entry of the list");
        if (form.commandJob().WorkJob != 0 && !form.workTimer().isActive())
            FuzzSupport::violated("a queued command job has its work timer running");
    }

    QFile::remove(folder + QStringLiteral("/ErrorLog.txt"));
    return 0;
}
