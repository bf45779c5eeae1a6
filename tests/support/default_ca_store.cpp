#include "default_ca_store.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <curl/curl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sched.h>
#include <sys/mount.h>

namespace hbr_test {

namespace {

std::string Folder(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string Denied(const std::string &what)
{
    return what + " failed (" + std::strerror(errno) + "): the built-in CA store cannot be replaced here";
}

size_t Discard(char *, size_t size, size_t count, void *)
{
    return size * count;
}

// "<hash>.0" for the certificate's subject, as `openssl rehash` names it;
// "" after a test failure.
std::string SubjectHashName(const std::string &pem)
{
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509 *certificate = bio != nullptr ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (certificate == nullptr) {
        ADD_FAILURE() << "not a PEM certificate";
        return "";
    }
    char name[32];
    std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(certificate));
    X509_free(certificate);
    return name;
}

}  // namespace

bool ReplaceDefaultCaStore(const std::string &caFile, std::string *skipReason)
{
    skipReason->clear();
    const curl_version_info_data *info = curl_version_info(CURLVERSION_NOW);
    const std::string caPath = info != nullptr && info->capath != nullptr ? info->capath : "";
    const std::string caInfo = info != nullptr && info->cainfo != nullptr ? info->cainfo : "";
    if (caPath.empty() && caInfo.empty()) {
        *skipReason = "libcurl has no built-in CA folder or file: there is no system store to keep out";
        return false;
    }
    const std::string pem = ReadFile(caFile);
    const std::string hashName = SubjectHashName(pem);
    if (hashName.empty()) {
        ADD_FAILURE() << "cannot read the CA " << caFile;
        return false;
    }
    const std::string folder = caPath.empty() ? Folder(caInfo) : caPath;

    // Mounts made from here on are this thread's own and end with the process.
    if (unshare(CLONE_NEWNS) != 0) {
        *skipReason = Denied("unshare(CLONE_NEWNS)");
        return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        *skipReason = Denied("making the mounts under / private");
        return false;
    }
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "mode=0755") != 0) {
        *skipReason = Denied("mounting a folder over " + folder);
        return false;
    }
    WriteFile(folder + "/" + hashName, pem);
    if (!caInfo.empty()) {
        if (Folder(caInfo) == folder || !FileExists(caInfo)) {
            WriteFile(caInfo, pem);
        } else if (mount((folder + "/" + hashName).c_str(), caInfo.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            *skipReason = Denied("binding a file over " + caInfo);
            return false;
        }
    }
    if (ReadFile(folder + "/" + hashName) != pem) {
        ADD_FAILURE() << "the replaced CA folder " << folder << " does not hold the CA";
        return false;
    }
    return true;
}

bool GetWithDefaultCaStore(const std::string &url)
{
    CURL *curl = curl_easy_init();
    if (curl == nullptr) {
        return false;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    const CURLcode rc = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return rc == CURLE_OK;
}

}  // namespace hbr_test
