#include "modFile.h"

#include "MessageBox.h"
#include "NumericText.h"
#include "OwnFile.h"
#include "VbError.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <unistd.h>
#include <vector>

namespace modFile {
namespace {

// ---- The version resource of a PE file ----

constexpr quint32 ResourceTypeVersion = 16;
constexpr quint32 SubdirectoryFlag = 0x80000000u;

quint16 u16At(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

quint32 u32At(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

// Reads byte ranges of one file; every range must lie wholly inside it.
class FileBytes {
public:
    explicit FileBytes(const QString& path) {
        // Only plain files, never through a link: opening a pipe or a device could block or never end.
        const int fd = OwnFile::openPlain(path);
        if (fd >= 0 && file_.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            size_ = quint64(file_.size());
        else if (fd >= 0)
            ::close(fd);
    }

    std::optional<QByteArray> read(quint64 offset, quint64 length) {
        if (offset > size_ || length > size_ - offset || !file_.seek(qint64(offset)))
            return std::nullopt;
        QByteArray bytes = file_.read(qint64(length));
        if (quint64(bytes.size()) != length)
            return std::nullopt;
        return bytes;
    }

private:
    QFile file_;
    quint64 size_ = 0;
};

struct Section {
    quint32 address;
    quint32 span; // bytes of the image backed by the file
    quint32 fileOffset;
};

class PeImage {
public:
    explicit PeImage(const QString& path) : file_(path) {}

    // The bytes of the first version resource, or nothing for a file that is no PE image, has none, or is
    // damaged anywhere along the way.
    std::optional<QByteArray> versionResource() {
        if (!readHeaders())
            return std::nullopt;
        const auto typeDir = subdirectory(0, ResourceTypeVersion);
        if (!typeDir)
            return std::nullopt;
        const auto nameDir = firstEntry(*typeDir);
        if (!nameDir || !(*nameDir & SubdirectoryFlag))
            return std::nullopt;
        const auto languageEntry = firstEntry(*nameDir & ~SubdirectoryFlag);
        if (!languageEntry || (*languageEntry & SubdirectoryFlag))
            return std::nullopt;
        const auto dataEntry = readResource(*languageEntry, 16);
        if (!dataEntry)
            return std::nullopt;
        const quint32 size = u32At(*dataEntry, 4);
        if (size == 0)
            return std::nullopt;
        return readImage(u32At(*dataEntry, 0), size);
    }

private:
    bool readHeaders() {
        const auto dos = file_.read(0, 64);
        if (!dos || !dos->startsWith("MZ"))
            return false;
        const quint64 pe = u32At(*dos, 0x3C);
        const auto coff = file_.read(pe, 24);
        if (!coff || !coff->startsWith(QByteArrayView("PE\0\0", 4)))
            return false;
        const quint16 sectionCount = u16At(*coff, 6);
        const quint16 optionalSize = u16At(*coff, 20);
        const auto optional = file_.read(pe + 24, optionalSize);
        if (!optional || optional->size() < 2)
            return false;

        qsizetype directories;
        switch (u16At(*optional, 0)) {
        case 0x10b: // PE32
            directories = 96;
            break;
        case 0x20b: // PE32+
            directories = 112;
            break;
        default:
            return false;
        }
        // The resource table is the third data directory.
        const qsizetype resourceDirectory = directories + 2 * 8;
        if (optional->size() < resourceDirectory + 8 || u32At(*optional, directories - 4) < 3)
            return false;
        resourceBase_ = u32At(*optional, resourceDirectory);
        if (resourceBase_ == 0)
            return false;

        const auto table = file_.read(pe + 24 + optionalSize, quint64(sectionCount) * 40);
        if (!table)
            return false;
        for (qsizetype at = 0; at < table->size(); at += 40) {
            const quint32 virtualSize = u32At(*table, at + 8);
            const quint32 rawSize = u32At(*table, at + 16);
            // Raw data beyond the virtual size is file padding, not part of the image.
            const quint32 span = virtualSize ? std::min(virtualSize, rawSize) : rawSize;
            sections_.push_back({u32At(*table, at + 12), span, u32At(*table, at + 20)});
        }
        return true;
    }

    // `length` bytes of the loaded image at `rva`, taken from the section that holds all of them.
    std::optional<QByteArray> readImage(quint64 rva, quint64 length) {
        for (const Section& s : sections_) {
            if (rva >= s.address && rva - s.address <= s.span && length <= s.span - (rva - s.address))
                return file_.read(quint64(s.fileOffset) + (rva - s.address), length);
        }
        return std::nullopt;
    }

    // Offsets inside the resource tree count from the start of the resource table.
    std::optional<QByteArray> readResource(quint64 offset, quint64 length) {
        return readImage(quint64(resourceBase_) + offset, length);
    }

    // The raw entries (name or id, offset) of the directory at `offset`.
    std::optional<QByteArray> entries(quint64 offset) {
        const auto header = readResource(offset, 16);
        if (!header)
            return std::nullopt;
        const quint64 count = quint64(u16At(*header, 12)) + u16At(*header, 14);
        return readResource(offset + 16, count * 8);
    }

    // The offset of the subdirectory filed under the numeric id `id`.
    std::optional<quint32> subdirectory(quint64 offset, quint32 id) {
        const auto list = entries(offset);
        if (!list)
            return std::nullopt;
        for (qsizetype at = 0; at < list->size(); at += 8) {
            const quint32 target = u32At(*list, at + 4);
            if (u32At(*list, at) == id && (target & SubdirectoryFlag))
                return target & ~SubdirectoryFlag;
        }
        return std::nullopt;
    }

    std::optional<quint32> firstEntry(quint64 offset) {
        const auto list = entries(offset);
        if (!list || list->isEmpty())
            return std::nullopt;
        return u32At(*list, 4);
    }

    FileBytes file_;
    quint32 resourceBase_ = 0;
    std::vector<Section> sections_;
};

// ---- The version note of an ELF file ----

// Our Linux programs carry the same version block as a Windows version resource, in an ELF note of this owner
// and type (see tools/common/VersionNote.cpp).
const QByteArray NoteOwner("ZEPJOB\0", 7);
constexpr quint32 NoteTypeVersion = 1;
constexpr quint32 SegmentNote = 4; // PT_NOTE
// Limits against damaged headers: no real file comes near them.
constexpr quint64 MaxSegments = 4096;
constexpr quint64 MaxNoteSegment = 1 << 20;

class ElfImage {
public:
    explicit ElfImage(const QString& path) : file_(path) {}

    std::optional<QByteArray> versionNote() {
        const auto ident = file_.read(0, 64);
        if (!ident || !ident->startsWith("\x7f"
                                         "ELF"))
            return std::nullopt;
        wide_ = ident->at(4) == 2;
        big_ = ident->at(5) == 2;
        if ((ident->at(4) != 1 && !wide_) || (ident->at(5) != 1 && !big_))
            return std::nullopt;
        const quint64 tableAt = wide_ ? u64(*ident, 0x20) : u32(*ident, 0x1C);
        const quint64 entrySize = u16(*ident, wide_ ? 0x36 : 0x2A);
        const quint64 count = u16(*ident, wide_ ? 0x38 : 0x2C);
        if (count > MaxSegments || entrySize < (wide_ ? 56u : 32u))
            return std::nullopt;
        const auto table = file_.read(tableAt, count * entrySize);
        if (!table)
            return std::nullopt;
        for (quint64 i = 0; i < count; ++i) {
            const QByteArray entry = table->mid(qsizetype(i * entrySize), qsizetype(entrySize));
            if (u32(entry, 0) != SegmentNote)
                continue;
            const quint64 offset = wide_ ? u64(entry, 8) : u32(entry, 4);
            const quint64 size = wide_ ? u64(entry, 32) : u32(entry, 16);
            const quint64 align = wide_ ? u64(entry, 48) : u32(entry, 28);
            if (size > MaxNoteSegment)
                continue;
            const auto notes = file_.read(offset, size);
            if (!notes)
                continue;
            if (auto found = findNote(*notes, align == 8 ? 8 : 4))
                return found;
        }
        return std::nullopt;
    }

private:
    quint64 u16(const QByteArray& b, qsizetype at) const {
        return big_ ? qFromBigEndian<quint16>(b.constData() + at)
                    : qFromLittleEndian<quint16>(b.constData() + at);
    }
    quint64 u32(const QByteArray& b, qsizetype at) const {
        return big_ ? qFromBigEndian<quint32>(b.constData() + at)
                    : qFromLittleEndian<quint32>(b.constData() + at);
    }
    quint64 u64(const QByteArray& b, qsizetype at) const {
        return big_ ? qFromBigEndian<quint64>(b.constData() + at)
                    : qFromLittleEndian<quint64>(b.constData() + at);
    }

    // The descriptor of our version note among the notes of one segment.
    std::optional<QByteArray> findNote(const QByteArray& notes, quint64 align) const {
        const auto padded = [align](quint64 n) { return (n + align - 1) / align * align; };
        quint64 at = 0;
        while (at + 12 <= quint64(notes.size())) {
            const quint64 nameSize = u32(notes, qsizetype(at));
            const quint64 descSize = u32(notes, qsizetype(at + 4));
            const quint64 type = u32(notes, qsizetype(at + 8));
            const quint64 nameAt = at + 12;
            const quint64 descAt = nameAt + padded(nameSize);
            if (descAt > quint64(notes.size()) || descSize > quint64(notes.size()) - descAt)
                return std::nullopt;
            if (type == NoteTypeVersion && notes.mid(qsizetype(nameAt), qsizetype(nameSize)) == NoteOwner)
                return notes.mid(qsizetype(descAt), qsizetype(descSize));
            at = descAt + padded(descSize);
        }
        return std::nullopt;
    }

    FileBytes file_;
    bool wide_ = false;
    bool big_ = false;
};

// ---- Scanning the block ----

constexpr std::array<QStringView, 13> Keys = {
    u"CompanyName",      u"FileDescription", u"FileVersion",    u"InternalName", u"LegalCopyright",
    u"OriginalFilename", u"ProductName",     u"ProductVersion", u"Comments",     u"LegalTrademarks",
    u"PrivateBuild",     u"SpecialBuild",    u"Language"};
constexpr qsizetype LanguageIndex = 12;

// The block as the 16-bit text units it is made of; an odd last byte belongs to no unit.
QString textUnits(const QByteArray& block) {
    QString units(block.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < units.size(); ++i)
        units[i] = QChar(u16At(block, 2 * i));
    return units;
}

// A unit past the end of the block reads as 0, which ends any text there.
char16_t unitAt(const QString& units, qsizetype i) {
    return i < units.size() ? units[i].unicode() : 0;
}

// The text from `start` up to the next 0 unit, or up to `limit`.
QString textUntilZero(const QString& units, qsizetype start, qsizetype limit) {
    start = std::min(start, limit);
    qsizetype end = start;
    while (end < limit && units[end] != QChar(0))
        ++end;
    return units.mid(start, end - start);
}

// The value of the entry whose type unit 1 sits at `p`, followed by the key of `keyLength` units.
QString entryValue(const QString& units, qsizetype p, qsizetype keyLength) {
    const qsizetype t = p + keyLength + 1; // the 0 that ends the key
    qsizetype start = t;
    if (unitAt(units, t + 1) == 0)
        start = t + 2; // a padding unit before the value
    else if (unitAt(units, t) == 0)
        start = t + 1;

    // An empty value may have no units at all; stopping at the end of the entry (its length in bytes leads
    // the header) keeps the next entry's header and key out of it.
    qsizetype limit = units.size();
    if (p >= 2) {
        const qsizetype entryEnd = p - 2 + (qsizetype(units[p - 2].unicode()) + 1) / 2;
        if (entryEnd > t)
            limit = std::min(limit, entryEnd);
    }
    return textUntilZero(units, start, limit);
}

// The key of the first string table ("041204B0": language and code page) after the StringFileInfo entry.
std::optional<QString> firstTableKey(const QString& units) {
    static const QString marker = QChar(1) + QStringLiteral("StringFileInfo");
    const qsizetype p = units.indexOf(marker);
    if (p < 0)
        return std::nullopt;
    const qsizetype q = units.indexOf(QChar(1), p + marker.size() - 1);
    if (q < 0)
        return QString();
    return textUntilZero(units, q + 1, units.size());
}

// ---- Languages ----

struct Language {
    QStringView id;
    QStringView name;
};

constexpr Language Languages[] = {
    {u"0436", u"Afrikaans"},
    {u"041C", u"Albanian"},
    {u"3801", u"Arabic - United Arab Emirates"},
    {u"3C01", u"Arabic - Bahrain"},
    {u"1401", u"Arabic - Algeria"},
    {u"0C01", u"Arabic - Egypt"},
    {u"0801", u"Arabic - Iraq"},
    {u"2C01", u"Arabic - Jordan"},
    {u"3401", u"Arabic - Kuwait"},
    {u"3001", u"Arabic - Lebanon"},
    {u"1001", u"Arabic - Libya"},
    {u"1801", u"Arabic - Morocco"},
    {u"2001", u"Arabic - Oman"},
    {u"4001", u"Arabic - Qatar"},
    {u"0401", u"Arabic - Saudia Arabia"},
    {u"2801", u"Arabic - Syria"},
    {u"1C01", u"Arabic - Tunisia"},
    {u"2401", u"Arabic - Yemen"},
    {u"042D", u"Basque"},
    {u"0423", u"Belarusian"},
    {u"0402", u"Bulgarian"},
    {u"0403", u"Catalan"},
    {u"0804", u"Chinese - PRC"},
    {u"0C04", u"Chinese - Hong Kong SAR"},
    {u"1004", u"Chinese - Singapore"},
    {u"0404", u"Chinese - Taiwan"},
    {u"041A", u"Croatian"},
    {u"0405", u"Czech"},
    {u"0406", u"Danish"},
    {u"0413", u"Dutch - Netherlands"},
    {u"0813", u"Dutch - Belgium"},
    {u"0C09", u"English - Australia"},
    {u"2809", u"English - Belize"},
    {u"1009", u"English - Canada"},
    {u"1809", u"English - Ireland"},
    {u"2009", u"English - Jamaica"},
    {u"1409", u"English - New Zealand"},
    {u"1C09", u"English - South Africa"},
    {u"2C09", u"English - Trinidad"},
    {u"0809", u"English - United Kingdom"},
    {u"0409", u"English - United States"},
    {u"0425", u"Estonian"},
    {u"0429", u"Farsi"},
    {u"040B", u"Finnish"},
    {u"0438", u"Faroese"},
    {u"040C", u"French - France"},
    {u"080C", u"French - Belgium"},
    {u"0C0C", u"French - Canada"},
    {u"140C", u"French - Luxembourg"},
    {u"100C", u"French - Switzerland"},
    {u"043C", u"Gaelic - Scotland"},
    {u"0407", u"German - Germany"},
    {u"0C07", u"German - Austrian"},
    {u"1407", u"German - Lichtenstein"},
    {u"1007", u"German - Luxembourg"},
    {u"0807", u"German - Switzerland"},
    {u"0408", u"Greek"},
    {u"040D", u"Hebrew"},
    {u"0439", u"Hindi"},
    {u"040E", u"Hungarian"},
    {u"040F", u"Icelandic"},
    {u"0421", u"Indonesian"},
    {u"0410", u"Italian - Italy"},
    {u"0810", u"Italian - Switzerland"},
    {u"0411", u"Japanese"},
    {u"0412", u"Korean"},
    {u"0426", u"Latvian"},
    {u"0427", u"Lithuanian"},
    {u"042F", u"Macedonian"},
    {u"043E", u"Malay - Malaysia"},
    {u"043A", u"Maltese"},
    // The stored name is a mis-decoded "Bokmål"; it is kept as the system has always written it.
    {u"0414", u"Norwegian - Bokm\uCC45l"},
    {u"0415", u"Polish"},
    {u"0816", u"Portuguese - Portugal"},
    {u"0416", u"Portuguese - Brazil"},
    {u"0417", u"Raeto-Romance"},
    {u"0418", u"Romanian - Romania"},
    {u"0818", u"Romanian - Moldova"},
    {u"0419", u"Russian"},
    {u"0819", u"Russian - Moldova"},
    {u"0C1A", u"Serbian - Cyrillic"},
    {u"0432", u"Setsuana"},
    {u"0424", u"Slovenian"},
    {u"041B", u"Slovak"},
    {u"042E", u"Sorbian"},
    {u"040A", u"Spanish - Spain"},
    {u"2C0A", u"Spanish - Argentina"},
    {u"400A", u"Spanish - Bolivia"},
    {u"340A", u"Spanish - Chile"},
    {u"240A", u"Spanish - Columbia"},
    {u"140A", u"Spanish - Costa Rica"},
    {u"1C0A", u"Spanish - Dominican Republic"},
    {u"300A", u"Spanish - Ecuador"},
    {u"100A", u"Spanish - Guatemala"},
    {u"480A", u"Spanish - Honduras"},
    {u"080A", u"Spanish - Mexico"},
    {u"4C0A", u"Spanish - Nicaragua"},
    {u"180A", u"Spanish - Panama"},
    {u"280A", u"Spanish - Peru"},
    {u"500A", u"Spanish - Puerto Rico"},
    {u"3C0A", u"Spanish - Paraguay"},
    {u"440A", u"Spanish - El Salvador"},
    {u"380A", u"Spanish - Uruguay"},
    {u"200A", u"Spanish - Venezuela"},
    {u"0430", u"Sutu"},
    {u"041D", u"Swedish - Sweden"},
    {u"081D", u"Swedish - Finland"},
    {u"041E", u"Thai"},
    {u"041F", u"Turkish"},
    {u"0431", u"Tsonga"},
    {u"0422", u"Ukranian"},
    {u"0420", u"Urdu"},
    {u"042A", u"Vietnamese"},
    {u"0434", u"Xhosa"},
    {u"043D", u"Yiddish"},
    {u"0435", u"Zulu"},
};
static_assert(std::size(Languages) == 116);

void showError(int number) {
    MessageBox::show(VbErrors::trappedText(number, VbErrors::describe(number), QStringLiteral("GetFileVer"),
                                           QStringLiteral("Module"), QStringLiteral("mdlFile")));
}

} // namespace

std::optional<QStringList> ReadFileVersionInfo(const QString& path) {
    auto block = PeImage(path).versionResource();
    if (!block)
        block = ElfImage(path).versionNote();
    if (!block)
        return std::nullopt;
    const QString units = textUnits(*block);

    QStringList list;
    for (qsizetype i = 0; i < LanguageIndex; ++i) {
        const QString key = Keys[i].toString();
        const qsizetype p = units.indexOf(QChar(1) + key);
        list.append(p < 0 ? key + QStringLiteral(": Not specified")
                          : key + QStringLiteral(": ") + entryValue(units, p, key.size()));
    }
    const auto tableKey = firstTableKey(units);
    list.append(tableKey ? QStringLiteral("Language: ") + LanguageName(*tableKey)
                         : QStringLiteral("Language"));
    return list;
}

QString GetFileVer(const QString& path, bool withBuild, bool noErrMsg) {
    const auto list = ReadFileVersionInfo(path);
    if (!list) {
        // The platform's error for indexing something that is not a list.
        if (!noErrMsg)
            showError(VbErrors::TypeMismatch);
        return QString();
    }
    const QString& entry = list->at(2);
    QString v = entry.mid(entry.indexOf(u' ') + 1);
    const qsizetype k = v.lastIndexOf(u'.') + 1; // characters up to and including the last "."

    if (withBuild) {
        const QString last = v.mid(k);
        // A numeric last part is written as a whole number; anything else stays as it is.
        const auto number = NumericText::wholeNumber(last);
        return v.left(k) + (number ? QString::number(*number) : last);
    }
    if (k == 0) {
        // No "." to cut at: the value goes back unshortened, with the error the cut raises.
        if (!noErrMsg)
            showError(VbErrors::InvalidProcedureCall);
        return v;
    }
    return v.left(k - 1);
}

QString LanguageName(const QString& code) {
    const QString id = code.left(4).toUpper();
    for (const Language& language : Languages) {
        if (language.id == id)
            return language.name.toString();
    }
    return QString();
}

} // namespace modFile
