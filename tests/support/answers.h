#pragma once

#include <QStringList>

#include "service/reading/record.h"

// The real registry answers of tests/answers, one row of expected.tsv each: file, server, domain,
// state, registrar, registrant, e-mail, created, expires, and why the row is not read yet (the
// text of an "# expect-fail:" line under it; empty for most).
QList<QStringList> answerRows(const QString& folder = QStringLiteral(ANSWERS_DIR));
// A row's answer read as the service reads it: an RDAP answer for a .json file, whois text else.
LookupResult readAnswerOf(const QStringList& row, const QString& folder = QStringLiteral(ANSWERS_DIR));
