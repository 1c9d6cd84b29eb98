#pragma once

#include <QString>

// Writes dir/domain.mdb holding a watch list of rows domains, domain1.example onwards.
void writeWatchList(const QString& dir, int rows);
