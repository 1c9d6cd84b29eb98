// Installed like a desktop application: cmake --install into a temporary prefix, the validators
// on what it put there, two copies started by the launcher sharing one whois service, a
// re-install keeping the watch list, and the uninstall leaving it.
#include <QtTest>

#include "support/formfixture.h"
#include "support/fakeserver.h"

namespace {

QString run(const QString& program, const QStringList& args, int* exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    process.waitForFinished(120000);
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
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
        int code = 0;
        const QString log = run("cmake", {"--install", BUILD_DIR, "--prefix", m_prefix}, &code);
        QVERIFY2(code == 0, qPrintable(log));
        QDir().mkpath(m_dir.filePath("run"));
        m_env.insert("XDG_RUNTIME_DIR", m_dir.filePath("run"));
        m_env.insert("XDG_CACHE_HOME", m_dir.filePath("cache"));
        m_env.insert("QT_QPA_PLATFORM", "xcb");
    }

    // Whatever a test started ends with it, passed or failed.
    void cleanup()
    {
        for (QProcess* process : findChildren<QProcess*>()) {
            process->kill();
            process->waitForFinished();
            delete process;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!serviceAnswers(), 10000);
    }

    void entriesPassTheValidators()
    {
        const QString entry = m_prefix + "/share/applications/net.domainwhois.DomainWhois.desktop";
        int code = -1;
        QString said = run("desktop-file-validate", {entry}, &code);
        QVERIFY2(code == 0 && said.isEmpty(), qPrintable(said));
        said = run("appstreamcli",
            {"validate", "--no-net",
                m_prefix + "/share/metainfo/net.domainwhois.DomainWhois.metainfo.xml"},
            &code);
        QVERIFY2(code == 0, qPrintable(said));
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
        int code = 0;
        QString log = run("cmake", {"--install", BUILD_DIR, "--prefix", m_prefix}, &code);
        QVERIFY2(code == 0 && log.contains("Keeping: " + m_watchList), qPrintable(log));
        QVERIFY(sql(m_watchList, "select url from domain").contains("kept.example"));
        log = run("cmake",
            {"-DMANIFEST=" BUILD_DIR "/install_manifest.txt", "-P",
                SOURCE_DIR "/install/uninstall.cmake"},
            &code);
        QVERIFY2(code == 0, qPrintable(log));
        QStringList left;
        QDirIterator it(m_prefix, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            left << it.next().mid(m_prefix.size() + 1);
        QCOMPARE(left, QStringList {"libexec/domain-whois/domain.mdb"});
        QVERIFY(sql(m_watchList, "select url from domain").contains("kept.example"));
    }
};

QTEST_MAIN(TestInstall)
#include "test_install.moc"
