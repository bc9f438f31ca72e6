// The error a conversion or a file write raises inside a handler; the handler's guard shows it.
#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

class AppError : public std::exception {
public:
    explicit AppError(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString& message() const { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};
