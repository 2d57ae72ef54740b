#include "support/FileUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

class FileSizeTest : public QObject {
    Q_OBJECT
private slots:
    void sparse_file_over_4_gib_reports_its_full_size();
    void empty_file_is_zero();
    void sixteen_byte_file_is_sixteen();
    void missing_file_is_minus_one();
    void folder_is_minus_one();
    void unreadable_file_is_minus_one();
    void named_pipe_is_minus_one_without_blocking();
    void empty_name_is_minus_one();
    void machine_is_64_bit_when_the_program_is();

private:
    QTemporaryDir m_dir;
};

void FileSizeTest::sparse_file_over_4_gib_reports_its_full_size() {
    const QString path = m_dir.filePath(QStringLiteral("big.ts"));
    const qint64 size = (Q_INT64_C(4) << 30) + 17;
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));  // sparse: no blocks are written
    }
    QCOMPARE(FileSizeByName(path), size);
    QVERIFY(QFile::remove(path));
}

void FileSizeTest::empty_file_is_zero() {
    const QString path = m_dir.filePath(QStringLiteral("empty"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(FileSizeByName(path), Q_INT64_C(0));
}

void FileSizeTest::sixteen_byte_file_is_sixteen() {
    const QString path = m_dir.filePath(QStringLiteral("key.key"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(QByteArray(16, '\x5A')), Q_INT64_C(16));
    file.close();
    QCOMPARE(FileSizeByName(path), Q_INT64_C(16));
}

void FileSizeTest::missing_file_is_minus_one() {
    QCOMPARE(FileSizeByName(m_dir.filePath(QStringLiteral("missing.ts"))), Q_INT64_C(-1));
}

void FileSizeTest::folder_is_minus_one() {
    QCOMPARE(FileSizeByName(m_dir.path()), Q_INT64_C(-1));
}

void FileSizeTest::unreadable_file_is_minus_one() {
    // A socket exists in the file system but cannot be opened as a file, whatever the rights.
    const QByteArray path = QFile::encodeName(m_dir.filePath(QStringLiteral("sock")));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    QVERIFY(size_t(path.size()) < sizeof address.sun_path);
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::close(fd);
    QCOMPARE(bound, 0);
    QVERIFY(QFileInfo::exists(QFile::decodeName(path)));
    QCOMPARE(FileSizeByName(QFile::decodeName(path)), Q_INT64_C(-1));
}

void FileSizeTest::named_pipe_is_minus_one_without_blocking() {
    // Opening a pipe nobody writes to would block this call (and the test) for good.
    const QString path = m_dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QCOMPARE(FileSizeByName(path), Q_INT64_C(-1));
}

void FileSizeTest::empty_name_is_minus_one() {
    QCOMPARE(FileSizeByName(QString()), Q_INT64_C(-1));
}

void FileSizeTest::machine_is_64_bit_when_the_program_is() {
    // A 64-bit program only runs on a 64-bit system; a 32-bit one proves nothing either way.
    if (QSysInfo::WordSize != 64)
        QSKIP("32-bit build");
    QVERIFY(IsWin64());
}

QTEST_APPLESS_MAIN(FileSizeTest)
#include "tst_filesize.moc"
