#include "ServiceManager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtGlobal>

namespace ServiceManager {

bool active() {
    return !qEnvironmentVariableIsEmpty("INVOCATION_ID") || !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
}

QByteArray encodeArguments(const QStringList& arguments) {
    return QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
}

std::optional<QStringList> decodeArguments(const QByteArray& text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList arguments;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        arguments << value.toString();
    }
    return arguments;
}

} // namespace ServiceManager
