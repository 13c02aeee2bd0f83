#pragma once

// The MySQL client library (MariaDB Connector/C): its calls, structures and error numbers (errmsg.h).
#include <errmsg.h>
#include <mysql.h>

namespace modMySQL {

// The port callers pass when they mean "the usual MySQL port"; the site's own port is dialled instead.
inline constexpr int DefaultPort = 3306;

} // namespace modMySQL
