#pragma once

#include <QString>

// Writes dir/domain.mdb holding a watch list of rows domains, domain1.example onwards.
void writeWatchList(const QString& dir, int rows);
// Writes dir/watch-state.db as after a check of each of those domains: registered, expiring in
// the coming year, one change each, next due in a day.
void writeWatchState(const QString& dir, int rows);
