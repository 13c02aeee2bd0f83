#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// An error that travels to a caller: the classic run-time error number, its source and its description.
class VbError : public std::exception {
public:
    VbError(int number, QString source, QString description)
        : number_(number), source_(std::move(source)), description_(std::move(description)),
          what_(description_.toUtf8()) {}

    int number() const { return number_; }
    const QString& source() const { return source_; }
    const QString& description() const { return description_; }
    // The description as UTF-8, for whoever catches it as a std::exception.
    const char* what() const noexcept override { return what_.constData(); }

private:
    int number_;
    QString source_;
    QString description_;
    QByteArray what_;
};

namespace VbErrors {
// Classic run-time error numbers and their standard descriptions.
inline constexpr int InvalidProcedureCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int SubscriptOutOfRange = 9;
inline constexpr int TypeMismatch = 13;
inline constexpr int PermissionDenied = 70;
inline constexpr int ObjectNotSet = 91;

QString describe(int number);

// "Error <n> (<description>) in procedure <procedure> of <kind> <module>", where kind is
// "Module", "Form" or "Class Module".
QString trappedText(int number, const QString& description, const QString& procedure, const QString& kind,
                    const QString& module);
QString trappedText(const VbError& error, const QString& procedure, const QString& kind,
                    const QString& module);
// The same for whatever a boundary caught: a VbError with its own number and description, any other
// std::exception as error 51 with its what().
QString trappedText(const std::exception& error, const QString& procedure, const QString& kind,
                    const QString& module);
inline constexpr int InternalError = 51;
} // namespace VbErrors
