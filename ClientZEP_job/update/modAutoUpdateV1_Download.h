#pragma once

#include <QString>

// The two web routines of the self-update.
namespace modAutoUpdateV1_Download {

// The first bytes (at most 20) of the resource at `url`, fetched fresh past every cache and taken as CP949
// text; the empty text when nothing could be read. An HTTP error page counts as read: its first bytes come
// back.
QString ReadUrlText(const QString& url);

// Downloads `url` into `path` (created or replaced). The file is replaced only by a complete download with a
// success status; on failure it stays as it was.
bool DownloadUrlToFile(const QString& url, const QString& path);

} // namespace modAutoUpdateV1_Download
