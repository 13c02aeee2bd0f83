// The version reader of executables: any bytes as a file whose PE version resource is read.
//
// Input: the whole file. The seeds are real Windows executables made by mingw-w64, so mutations start from
// valid headers and resource trees.
#include "FuzzSupport.h"
#include "modFile.h"

namespace {

const QStringList Keys =
    QStringLiteral("CompanyName;FileDescription;FileVersion;InternalName;LegalCopyright;"
                   "OriginalFilename;ProductName;ProductVersion;Comments;LegalTrademarks;"
                   "PrivateBuild;SpecialBuild")
        .split(QLatin1Char(';'));

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = FuzzSupport::programFolder() + QStringLiteral("/VerProbeV1.exe");
    FuzzSupport::writeFile(path, FuzzSupport::bytesOf(data, size));

    const std::optional<QStringList> list = modFile::ReadFileVersionInfo(path);
    if (list) {
        // Always the whole list, each element labelled with its key.
        if (list->size() != 13)
            FuzzSupport::violated("a version list has 13 elements", list->join(QLatin1Char('\n')));
        for (qsizetype i = 0; i < Keys.size(); ++i)
            if (!list->at(i).startsWith(Keys[i] + QStringLiteral(": ")))
                FuzzSupport::violated("each element starts with its key", list->at(i));
        if (!list->at(12).startsWith(QLatin1String("Language")))
            FuzzSupport::violated("the last element is the language", list->at(12));
    }

    const QString withBuild = modFile::GetFileVer(path, true, true);
    const QString withoutBuild = modFile::GetFileVer(path, false, false);
    if (!list && (!withBuild.isEmpty() || !withoutBuild.isEmpty()))
        FuzzSupport::violated("a file without a version resource has no version", withBuild);
    return 0;
}
