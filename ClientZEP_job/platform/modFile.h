#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Version strings of executables. The version resource of a Windows program is read straight out of the PE
// file, so this works on any platform; our Linux programs carry the same block in an ELF note (owner
// "ZEPJOB", type 1), read the same way.
namespace modFile {

// The 13 labelled version texts of the file at `path`, in this order: CompanyName, FileDescription,
// FileVersion, InternalName, LegalCopyright, OriginalFilename, ProductName, ProductVersion, Comments,
// LegalTrademarks, PrivateBuild, SpecialBuild ("key: value" or "key: Not specified") and the language
// ("Language: name", or "Language" when the block has no string tables). Nothing when the file cannot be read
// or has no version resource.
std::optional<QStringList> ReadFileVersionInfo(const QString& path);

// The file version as a short dotted text: with `withBuild` the last part loses its leading zeros
// ("1.00.0012" -> "1.00.12"), without it the last part is dropped ("1.00"). A file without version resource
// gives the empty text; errors are shown in a message box unless `noErrMsg`.
QString GetFileVer(const QString& path, bool withBuild, bool noErrMsg);

// English name of the language whose identifier forms the first four characters of `code` (case ignored,
// e.g. "041204B0" -> "Korean"); the empty text for an unknown identifier.
QString LanguageName(const QString& code);

} // namespace modFile
