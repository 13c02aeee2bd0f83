#include "VbError.h"

namespace VbErrors {

QString describe(int number) {
    switch (number) {
    case InvalidProcedureCall:
        return QStringLiteral("Invalid procedure call or argument");
    case Overflow:
        return QStringLiteral("Overflow");
    case OutOfMemory:
        return QStringLiteral("Out of memory");
    case SubscriptOutOfRange:
        return QStringLiteral("Subscript out of range");
    case TypeMismatch:
        return QStringLiteral("Type mismatch");
    case PermissionDenied:
        return QStringLiteral("Permission denied");
    case ObjectNotSet:
        return QStringLiteral("Object variable or With block variable not set");
    default:
        return QStringLiteral("Application-defined or object-defined error");
    }
}

QString trappedText(int number, const QString& description, const QString& procedure, const QString& kind,
                    const QString& module) {
    return QStringLiteral("Error %1 (%2) in procedure %3 of %4 %5")
        .arg(QString::number(number), description, procedure, kind, module);
}

QString trappedText(const VbError& error, const QString& procedure, const QString& kind,
                    const QString& module) {
    return trappedText(error.number(), error.description(), procedure, kind, module);
}

QString trappedText(const std::exception& error, const QString& procedure, const QString& kind,
                    const QString& module) {
    if (const auto* vb = dynamic_cast<const VbError*>(&error))
        return trappedText(*vb, procedure, kind, module);
    return trappedText(InternalError, QString::fromLocal8Bit(error.what()), procedure, kind, module);
}

} // namespace VbErrors
