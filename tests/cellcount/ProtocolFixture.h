#pragma once
#include "TestRoot.h"
#include "nimbo_protocol_t.h"

#include <QString>
#include <QStringList>
#include <memory>

// A fresh root with an empty protocol folder, and helpers to fill it and read it back.
struct ProtocolFixture
{
    std::unique_ptr<TestRoot> root;

    ProtocolFixture();
    // The folder of the protocol files.
    QString dir() const;
    QString fileOf(const QString &name) const;
    // Writes "Protocol_<name>_NIMBO.ini" with this text.
    void writeProtocol(const QString &name, const QByteArray &text) const;
    // Protocol files in the folder, sorted.
    QStringList files() const;
    // Every file anywhere under the root (a stray write shows here).
    QStringList allFiles() const;

    // The file as Python's configparser reads it: sorted "group/key=value" lines.
    static QStringList parsed(const QString &file);
    // A record with a distinct, storable value in each field.
    static nimbo_protocol_t distinctProtocol();
};
