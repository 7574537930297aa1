// The demodulator kept from one start to the next, in a configuration folder of the
// test's own.
#include "gui/DemodulatorSetting.h"
#include "gui/DemodulatorOption.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class DemodulatorSetting : public ::testing::Test {
protected:
    void SetUp() override {
        FPrevious = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", Configuration.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", FPrevious); }

    QString Folder() const { return Configuration.filePath(QStringLiteral("zeltextreceiver")); }
    QString File() const { return Folder() + QStringLiteral("/ZELTextReceiver.conf"); }
    void Write(const QByteArray &Bytes) const {
        QDir().mkpath(Folder());
        QFile Out(File());
        ASSERT_TRUE(Out.open(QIODevice::WriteOnly));
        Out.write(Bytes);
    }
    QByteArray Read() const {
        QFile In(File());
        return In.open(QIODevice::ReadOnly) ? In.readAll() : QByteArray();
    }

    QTemporaryDir Configuration;

private:
    QByteArray FPrevious;
};

TEST_F(DemodulatorSetting, IsZeroCrossingWithoutAReadableChoiceAndReadingWritesNothing) {
    const QByteArray Damaged[] = {
        QByteArray(),
        QByteArray("demodulator=fast\n"),
        QByteArray("\xff\xfe[\x01\x00=@Variant(\x00\x00\x00\x7f)\n=\n[[[demodulator", 41),
    };
    EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Crossing);
    EXPECT_FALSE(QDir(Folder()).exists());
    for (const QByteArray &Bytes : Damaged) {
        Write(Bytes);
        EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Crossing) << Bytes.toHex().constData();
        EXPECT_EQ(Read(), Bytes);
    }
    // A folder where the file should be cannot be read at all.
    QFile::remove(File());
    QDir().mkpath(File());
    EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Crossing);
}

TEST_F(DemodulatorSetting, KeepsTheLastChoiceAlsoOverADamagedFile) {
    Write("\xff\xfe[[[\n");
    SaveDemodulator(TDemodulatorKind::Matched);
    EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Matched);
    SaveDemodulator(TDemodulatorKind::Crossing);
    EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Crossing);
}

TEST_F(DemodulatorSetting, IsLostQuietlyWhereItCannotBeWritten) {
    QFile Blocking(Folder());
    ASSERT_TRUE(Blocking.open(QIODevice::WriteOnly)); // a file where the folder would be
    Blocking.close();
    SaveDemodulator(TDemodulatorKind::Matched);
    EXPECT_TRUE(QFileInfo(Folder()).isFile());
    EXPECT_EQ(QFileInfo(Folder()).size(), 0);
}

// What the program starts with: the command line's choice for this run, else the kept
// one; the option leaves the kept one as it was.
TEST_F(DemodulatorSetting, GivesWayToTheCommandLineForOneRun) {
    SaveDemodulator(TDemodulatorKind::Matched);
    const QByteArray Kept = Read();
    struct TCase {
        std::vector<std::string> Arguments;
        TDemodulatorKind Kind;
    };
    const TCase Cases[] = {
        {{"Z"}, TDemodulatorKind::Matched},
        {{"Z", "--demodulator", "crossing"}, TDemodulatorKind::Crossing},
        {{"Z"}, TDemodulatorKind::Matched},
    };
    for (const TCase &Case : Cases) {
        std::vector<std::string> Storage = Case.Arguments;
        std::vector<char *> Args;
        for (std::string &Argument : Storage)
            Args.push_back(Argument.data());
        Args.push_back(nullptr);
        int Count = int(Storage.size());
        EXPECT_EQ(TakeDemodulatorOption(Count, Args.data(), SavedDemodulator()), Case.Kind);
        EXPECT_EQ(Read(), Kept);
    }
}

} // namespace
