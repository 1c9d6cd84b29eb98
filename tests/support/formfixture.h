#pragma once

#include <memory>

#include <QEvent>
#include <QStringList>
#include <QTemporaryDir>

#include "window/form1.h"

// Runs statements on the SQLite file at path behind the program's back; returns the first column
// of the rows they yield.
QStringList sql(const QString& path, const QString& statements);
// Makes an empty watch list at path from the schema kept with the program.
void makeEmptyDatabase(const QString& path);

// Counts the paints of the widgets it is installed on.
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// A Form1 on a temporary program folder with an empty domain.mdb, its messages and browser
// calls recorded, and no banner address unless one is handed in.
struct FormFixture
{
    explicit FormFixture(const QString& whoisBase = QStringLiteral("http://127.0.0.1:9/w?d="));

    // Builds, loads and shows the window; services and the file may be adjusted before.
    Form1& form();
    QString dbPath() const { return dir.filePath(QStringLiteral("domain.mdb")); }
    QStringList sql(const QString& statements) const { return ::sql(dbPath(), statements); }
    QStringList listEntries(); // as the view shows them
    QStringList labels(); // the six facts as shown

    QTemporaryDir dir;
    Form1Services services;
    QStringList messages, opened;
    std::unique_ptr<Form1> window;
};
