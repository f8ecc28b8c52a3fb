#pragma once

#include <QString>

namespace corvane {

// The MD5 digest (RFC 1321) of the text's UTF-8 bytes as 32 lower-case hex
// digits. Subscriptions and default categories take it as their uuid, so the
// same one gets the same identifier on every machine.
QString MD5(const QString &text);

// A new random UUID: 36 characters, upper-case hex in groups of 8-4-4-4-12.
QString uuid();

} // namespace corvane
