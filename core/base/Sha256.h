#pragma once

// SHA-256 of streamed bytes, as lower-case hexadecimal text: the one digest of file content
// this system records (pack registries, export manifests, the digest list of each backup).

#include <cstddef>
#include <new>
#include <string>

#include <openssl/evp.h>

namespace olvex {

// One SHA-256 context reused for every file of a walk; EVP picks the CPU's SHA instructions
// where the processor has them.
class Sha256 {
public:
    Sha256() : m_context(EVP_MD_CTX_new()) {
        if (!m_context) {
            throw std::bad_alloc();
        }
    }
    ~Sha256() { EVP_MD_CTX_free(m_context); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void begin() { require(EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr)); }
    void update(const unsigned char* data, size_t length) { require(EVP_DigestUpdate(m_context, data, length)); }
    // The digest as 64 lower-case hexadecimal digits.
    std::string hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        require(EVP_DigestFinal_ex(m_context, digest, &length));
        static constexpr char digits[] = "0123456789abcdef";
        std::string text(2 * length, '0');
        for (unsigned int i = 0; i < length; ++i) {
            text[2 * i] = digits[digest[i] >> 4];
            text[2 * i + 1] = digits[digest[i] & 0x0f];
        }
        return text;
    }

private:
    static void require(int result) {
        if (result != 1) {
            // Only an allocation failure inside libcrypto makes the EVP calls fail.
            throw std::bad_alloc();
        }
    }
    EVP_MD_CTX* m_context;
};

} // namespace olvex
