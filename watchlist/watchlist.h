#pragma once

#include <QString>

// The watch list's file: domain.mdb in programDir, joined with the native separator. A directory
// that already ends in one (a root) gets no second.
QString databasePath(const QString& programDir);

// text with every single quote doubled, so that it stands as one literal between single quotes
// in a statement, whatever it holds.
QString sqlQuoted(const QString& text);
