#pragma once

#include <QByteArray>
#include <QString>

// The text of bytes in a charset nobody named, as ICU's charset detector judges it; Latin-1
// when it cannot tell.
QString decodeDetected(const QByteArray& bytes);
