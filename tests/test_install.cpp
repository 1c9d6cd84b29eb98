// Installed like a desktop application: cmake --install into a temporary prefix, the validators
// on what it put there, two copies started by the launcher sharing one whois service, a
// re-install keeping the watch list, and the uninstall leaving it.
#include <QtTest>

#include "support/formfixture.h"
#include "support/fakeserver.h"

namespace {

// Whether program ran to an exit code 0; what it said in *output.
bool run(const QString& program, const QStringList& args, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(120000);
    *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool serviceAnswers()
{
    return httpRequest("http://127.0.0.1:8043/", "GET", {}, 1000).status == 200;
}

// Processes whose command line starts with program.
int processesOf(const QString& program)
{
    int found = 0;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + pid + "/cmdline");
        found += cmdline.open(QIODevice::ReadOnly)
            && cmdline.readAll().startsWith(program.toUtf8() + '\0');
    }
    return found;
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    const QString m_prefix = m_dir.filePath("prefix");
    const QString m_watchList = m_prefix + "/libexec/domain-whois/domain.mdb";
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();

    QProcess* launch()
    {
        auto* process = new QProcess(this);
        process->setProcessEnvironment(m_env);
        process->start(m_prefix + "/bin/domain-whois");
        return process;
    }

private slots:
    void initTestCase()
    {
        if (serviceAnswers())
            QSKIP("something answers on 127.0.0.1:8043 already");
        QString log;
        QVERIFY2(
            run("cmake", {"--install", BUILD_DIR, "--prefix", m_prefix}, &log), qPrintable(log));
        QDir().mkpath(m_dir.filePath("run"));
        m_env.insert("XDG_RUNTIME_DIR", m_dir.filePath("run"));
        m_env.insert("XDG_CACHE_HOME", m_dir.filePath("cache"));
        m_env.insert("QT_QPA_PLATFORM", "xcb");
    }

    // Whatever a test started ends with it, passed or failed.
    void cleanup()
    {
        qDeleteAll(findChildren<QProcess*>()); // each killed and waited for
        QTRY_VERIFY_WITH_TIMEOUT(!serviceAnswers(), 10000);
    }

    void entriesPassTheValidators()
    {
        const QString entry = m_prefix + "/share/applications/net.domainwhois.DomainWhois.desktop";
        const QString metainfo
            = m_prefix + "/share/metainfo/net.domainwhois.DomainWhois.metainfo.xml";
        QString said;
        QVERIFY2(run("desktop-file-validate", {entry}, &said) && said.isEmpty(), qPrintable(said));
        QVERIFY2(run("appstreamcli", {"validate", "--no-net", metainfo}, &said), qPrintable(said));
        QSettings desktop(entry, QSettings::IniFormat);
        QCOMPARE(desktop.value("Desktop Entry/Exec").toString(), m_prefix + "/bin/domain-whois");
    }

    // Started from the menu, the program brings its service; a second copy shares it; the
    // service ends with the last copy.
    void launcherStartsTheService()
    {
        const QString service = m_prefix + "/bin/domain-whois-service";
        QProcess* first = launch();
        QTRY_VERIFY_WITH_TIMEOUT(serviceAnswers(), 10000);
        QProcess* second = launch();
        QVERIFY(second->waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(
            processesOf(m_prefix + "/bin/../libexec/domain-whois/domain-whois"), 2, 10000);
        QCOMPARE(processesOf(service), 1);
        first->terminate();
        QVERIFY(first->waitForFinished(10000));
        QTest::qWait(300);
        QVERIFY(serviceAnswers());
        second->terminate();
        QVERIFY(second->waitForFinished(10000));
        QTRY_COMPARE_WITH_TIMEOUT(processesOf(service), 0, 10000);
        QVERIFY(!serviceAnswers());
    }

    void reinstallAndUninstallKeepTheWatchList()
    {
        sql(m_watchList, "insert into domain(url) values('kept.example')");
        QString log;
        QVERIFY2(run("cmake", {"--install", BUILD_DIR, "--prefix", m_prefix}, &log)
                && log.contains("Keeping: " + m_watchList),
            qPrintable(log));
        QVERIFY(sql(m_watchList, "select url from domain").contains("kept.example"));
        const QStringList uninstall {"-DMANIFEST=" BUILD_DIR "/install_manifest.txt", "-P",
            SOURCE_DIR "/install/uninstall.cmake"};
        QVERIFY2(run("cmake", uninstall, &log), qPrintable(log));
        QStringList left;
        QDirIterator it(m_prefix, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            left << it.next().mid(m_prefix.size() + 1);
        // The program made its watching state beside the list; both are the user's.
        left.removeIf([](const QString& file) {
            return file.startsWith("libexec/domain-whois/watch-state.db");
        });
        QCOMPARE(left, QStringList {"libexec/domain-whois/domain.mdb"});
        QVERIFY(sql(m_watchList, "select url from domain").contains("kept.example"));
    }
};

QTEST_MAIN(TestInstall)
#include "test_install.moc"
