#pragma once

#include <memory>

#include <QStringList>
#include <QTemporaryDir>

#include "window/form1.h"

// A Form1 on a temporary program folder with an empty domain.mdb, its messages and browser
// calls recorded, and no banner address unless one is handed in.
struct FormFixture
{
    explicit FormFixture(const QString& whoisBase = QStringLiteral("http://127.0.0.1:9/w?d="));

    // Builds the window; services may be adjusted before.
    Form1& form();
    QString dbPath() const { return dir.filePath(QStringLiteral("domain.mdb")); }
    // Runs statements on domain.mdb behind the program's back.
    void sql(const QString& statements) const;
    // The first column of a query on domain.mdb.
    QStringList rows(const char* query) const;
    // The entries of the watch list as the view shows them.
    QStringList listEntries();

    QTemporaryDir dir;
    Form1Services services;
    QStringList messages;
    QStringList opened;
    std::unique_ptr<Form1> window;
};

// Makes an empty watch list at path from the schema kept with the program.
void makeEmptyDatabase(const QString& path);
// The first column of a query on the database at path.
QStringList databaseRows(const QString& path, const char* query);
