// The demodulator kept from one start to the next, in a configuration folder of each
// test's own (Qt reads XDG_CONFIG_HOME once per process).
#include "gui/DemodulatorSetting.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class DemodulatorSetting : public ::testing::Test {
protected:
    void SetUp() override { SetFolder(Configuration.path()); }
    void TearDown() override { SetFolder(qEnvironmentVariable("XDG_CONFIG_HOME")); }
    static void SetFolder(const QString &Path) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Path);
    }

    QByteArray Read() const {
        QFile In(File);
        return In.open(QIODevice::ReadOnly) ? In.readAll() : QByteArray("(none)");
    }

    QTemporaryDir Configuration;
    const QString Folder = Configuration.filePath("zeltextreceiver");
    const QString File = Folder + "/ZELTextReceiver.conf";
};

TEST_F(DemodulatorSetting, IsZeroCrossingWithoutAReadableChoiceAndReadingWritesNothing) {
    EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Crossing);
    EXPECT_FALSE(QDir(Folder).exists());
    QDir().mkpath(Folder);
    // Qt warns of the last one as it reads it.
    for (const QByteArray &Bytes : {QByteArray("demodulator=fast\n"),
                                    QByteArray("\xff\xfe[[[\ndemodulator=@Variant(\\0\\0\\0\\x7f"
                                               "\\0\\0\\0\\x1X)\n")}) {
        QFile Out(File);
        ASSERT_TRUE(Out.open(QIODevice::WriteOnly));
        Out.write(Bytes);
        Out.close();
        EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Crossing) << Bytes.constData();
        EXPECT_EQ(Read(), Bytes);
    }
    // A folder where the file should be cannot be read at all.
    QFile::remove(File);
    QDir().mkpath(File);
    EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Crossing);
}

TEST_F(DemodulatorSetting, KeepsTheLastChoiceOrQuietlyNothingWhereItCannotBeWritten) {
    SaveDemodulator(TDemodulatorKind::Matched);
    EXPECT_EQ(SavedDemodulator(), TDemodulatorKind::Matched);
    SaveDemodulator(TDemodulatorKind::Crossing);
    EXPECT_EQ(Read(), "[General]\ndemodulator=crossing\n");

    QDir(Folder).removeRecursively();
    QFile Blocking(Folder); // a file where the folder would be
    ASSERT_TRUE(Blocking.open(QIODevice::WriteOnly));
    Blocking.close();
    SaveDemodulator(TDemodulatorKind::Matched);
    EXPECT_EQ(QFileInfo(Folder).size(), 0);
}

} // namespace
