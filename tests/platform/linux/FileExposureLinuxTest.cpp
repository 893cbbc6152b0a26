#include "platform/RegistryFileExposure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fw;

TEST(RegistryFileExposure, WarnsOnlyWhenOthersCanReadAPassword)
{
    QTemporaryDir dir;
    const QString withPassword = QDir(dir.path()).filePath("velmora.reg");
    const QString without = QDir(dir.path()).filePath("plain.reg");
    for (const auto& [path, text] : {std::pair{withPassword, QByteArray("\"ConnectionString\"=\"Driver={FreeTDS};PWD=x\"\r\n")},
                                     std::pair{without, QByteArray("\"ConnectionString\"=\"Driver={FreeTDS}\"\r\n")}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const auto group = owner | QFileDevice::ReadGroup;
    const auto everyone = group | QFileDevice::ReadOther;

    ASSERT_TRUE(QFile::setPermissions(withPassword, everyone));
    EXPECT_EQ(passwordExposureWarning(withPassword),
              QStringLiteral("warning: the registry file %1 holds a database password and every user of this computer "
                             "can read it; make it unreadable to others (chmod o-r %1)")
                  .arg(withPassword));
    ASSERT_TRUE(QFile::setPermissions(withPassword, group));
    EXPECT_EQ(passwordExposureWarning(withPassword), QString()) << "0640, as the package ships it";
    ASSERT_TRUE(QFile::setPermissions(without, everyone));
    EXPECT_EQ(passwordExposureWarning(without), QString());
    EXPECT_EQ(passwordExposureWarning(QDir(dir.path()).filePath("missing.reg")), QString());
    EXPECT_EQ(passwordExposureWarning(dir.path()), QString()) << "a folder";
}
