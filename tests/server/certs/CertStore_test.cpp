// The certificate store: the cert.conf reader, reloading the key files and making new ones.

#include "server/certs/CertStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/FtpSite.h"
#include "engine/SslLayer.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

TEST(CertConf, ValuesTakeOneWordOrTheRestOfTheLine) {
    CertInfo info;
    ParseCertConf(
        "COUNTRY United Kingdom\n"
        "state   Greater   London  \n"
        "LOCALITY\tSoho # the office\n"
        "Organization Acme Ltd\r\n"
        "ORGUNIT\n"
        "EMAILADDRESS ops@example.org extra words\n"
        "COMMONNAME ftp.example.org\n"
        "UNKNOWN value\n",
        info);
    EXPECT_EQ(info.country, "Un");
    EXPECT_EQ(info.state, "Greater London");
    EXPECT_EQ(info.locality, "Soho");
    EXPECT_EQ(info.organization, "Acme Ltd");
    EXPECT_EQ(info.orgUnit, "");  // fewer than two words
    EXPECT_EQ(info.email, "ops@example.org");
    EXPECT_EQ(info.commonName, "ftp.example.org");
}

TEST(CertConf, FieldsAreCutAndLaterLinesWin) {
    CertInfo info;
    ParseCertConf("STATE first\nSTATE " + std::string(100, 's') + "\nCOMMONNAME " +
                      std::string(70, 'c') + "\nEMAILADDRESS " + std::string(50, 'e') + "\n",
                  info);
    EXPECT_EQ(info.state, std::string(79, 's'));
    EXPECT_EQ(info.commonName, std::string(64, 'c'));
    EXPECT_EQ(info.email, std::string(40, 'e'));
}

TEST(CertConf, AnOverlongLineReadsAsSeveral) {
    CertInfo info;
    // The second piece of the line starts with its own key.
    ParseCertConf("STATE " + std::string(1017, 'a') + "COUNTRY DE\n", info);
    EXPECT_EQ(info.state, std::string(79, 'a'));
    EXPECT_EQ(info.country, "DE");
}

TEST(CertConf, DefaultsFillOnlyEmptyFields) {
    CertInfo info;
    ParseCertConf("# nothing but comments\n#COUNTRY DE\n", info);
    ApplyCertDefaults(info);
    EXPECT_EQ(info.country, "XX");
    EXPECT_EQ(info.state, "None");
    EXPECT_EQ(info.locality, "None");
    EXPECT_EQ(info.organization, "None");
    EXPECT_EQ(info.orgUnit, "None");
    EXPECT_FALSE(info.commonName.empty());
    EXPECT_EQ(info.email, kDefaultCertEmail);
    CertInfo set;
    set.country = "DE";
    ApplyCertDefaults(set);
    EXPECT_EQ(set.country, "DE");
}

class CertStoreTest : public ::testing::Test {
  protected:
    CertStoreTest() {
        char tmpl[] = "/tmp/orvex-certs-XXXXXX";
        root_ = mkdtemp(tmpl) ? tmpl : "";
        fs::create_directories(root_ + "/etc");
        fs::create_directories(root_ + "/keys");
        site_ = std::make_unique<FtpSite>(nullptr, nullptr, nullptr, root_.c_str());
        store_ = std::make_unique<CertStore>(*site_);
    }
    ~CertStoreTest() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void Write(const std::string& rel, const std::string& text) {
        std::ofstream(root_ + "/" + rel, std::ios::binary | std::ios::trunc) << text;
    }
    std::string Read(const std::string& rel) {
        std::ifstream in(root_ + "/" + rel, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void SetMtime(const std::string& rel, time_t sec) {
        timespec t[2] = {{sec, 0}, {sec, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (root_ + "/" + rel).c_str(), t, 0), 0);
    }

    std::string root_;
    std::unique_ptr<FtpSite> site_;
    std::unique_ptr<CertStore> store_;
};

TEST_F(CertStoreTest, ReadCertInfoNeedsTheFile) {
    const CertInfo none = store_->ReadCertInfo();
    EXPECT_TRUE(none.country.empty() && none.state.empty() && none.commonName.empty() &&
                none.email.empty());
    Write("etc/cert.conf", "COUNTRY FR\n");
    const CertInfo info = store_->ReadCertInfo();
    EXPECT_EQ(info.country, "FR");
    EXPECT_EQ(info.state, "None");
}

TEST_F(CertStoreTest, ReloadTakesBothFilesOrNothing) {
    EXPECT_EQ(store_->ReloadKeys(), 0);
    EXPECT_FALSE(store_->GetPrivateKeyPem());
    Write("keys/privkey.pem", "KEY1");
    EXPECT_EQ(store_->ReloadKeys(), 0);
    EXPECT_FALSE(store_->GetPrivateKeyPem());
    Write("keys/cert.pem", "CERT1");
    EXPECT_EQ(store_->ReloadKeys(), 1);
    EXPECT_EQ(store_->GetPrivateKeyPem(), "KEY1");
    EXPECT_EQ(store_->GetCertificatePem(), "CERT1");

    // An edit within the same second is seen through the size.
    SetMtime("keys/cert.pem", 1000000000);
    EXPECT_EQ(store_->ReloadKeys(), 1);
    Write("keys/cert.pem", "CERT22");
    SetMtime("keys/cert.pem", 1000000000);
    EXPECT_EQ(store_->ReloadKeys(), 1);
    EXPECT_EQ(store_->GetCertificatePem(), "CERT22");

    // A missing file fails the reload and leaves the copies in memory.
    fs::remove(root_ + "/keys/cert.pem");
    EXPECT_EQ(store_->ReloadKeys(), 0);
    EXPECT_EQ(store_->GetCertificatePem(), "CERT22");
    EXPECT_EQ(store_->GetPrivateKeyPem(), "KEY1");
}

TEST_F(CertStoreTest, PassPhraseIsCutToTheBuffer) {
    EXPECT_EQ(CertStore::GetKeyPassPhrase(64), "quosk");
    EXPECT_EQ(CertStore::GetKeyPassPhrase(3), "qu");
    EXPECT_EQ(CertStore::GetKeyPassPhrase(0), "");
}

TEST_F(CertStoreTest, GenerateKeysWritesAUsablePairAndOneBackup) {
    SslLayer::InitLibrary();
    EXPECT_EQ(store_->GenerateKeys(), -1);
    EXPECT_FALSE(fs::exists(root_ + "/keys/privkey.pem"));

    Write("etc/cert.conf", "COUNTRY DE\nORGANIZATION Orvex Test\nCOMMONNAME 127.0.0.1\n");
    ASSERT_EQ(store_->GenerateKeys(), 1);
    const std::string key1 = Read("keys/privkey.pem");
    EXPECT_NE(key1.find("ENCRYPTED"), std::string::npos);
    EXPECT_NE(Read("keys/pubkey.pem").find("BEGIN PUBLIC KEY"), std::string::npos);
    EXPECT_EQ(store_->GetPrivateKeyPem(), key1);
    EXPECT_EQ(store_->GetCertificatePem(), Read("keys/cert.pem"));
    EXPECT_EQ(fs::status(root_ + "/keys/privkey.pem").permissions() & fs::perms::others_read,
              fs::perms::none);

    ASSERT_EQ(store_->GenerateKeys(), 1);
    ASSERT_EQ(store_->GenerateKeys(), 1);
    EXPECT_NE(Read("keys/privkey.pem"), key1);
    size_t backups = 0;
    for (const auto& e : fs::directory_iterator(root_ + "/keys"))
        if (e.path().extension() == ".bak") ++backups;
    EXPECT_EQ(backups, 3u);  // one generation of each of the three files

    // The pair made is what a TLS handshake would load.
    EXPECT_EQ(store_->ReloadKeys(), 1);
    EXPECT_EQ(store_->GetPrivateKeyPem(), Read("keys/privkey.pem"));
}

}  // namespace
}  // namespace orvex
