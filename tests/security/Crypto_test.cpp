// Digests and ciphers against the published test vectors, plus the choices the
// standards leave open: padding, IV transport, refusal of bad lengths, hash misuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/security/MarlockPDFLibraryCrypto.h"

using namespace pagelume;

namespace {

Bytes Unhex(std::string_view hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(char(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return out;
}

const std::string k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string k896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

}  // namespace

TEST(Digest, MD5MatchesRfc1321Suite) {
  struct Row { std::string in, hex; };
  const std::vector<Row> rows = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Row& r : rows) {
    Bytes d = MD5OfBytes(r.in);
    EXPECT_EQ(d.size(), 16u);
    EXPECT_EQ(DigestHex(d), r.hex) << '"' << r.in << '"';
  }
  EXPECT_EQ(DigestHex(Bytes("\x00\xab\xff", 3)), "00abff");
}

TEST(Digest, SHA2MatchesFips180Examples) {
  struct Row { Bytes (*fn)(ByteView); std::string in, hex; };
  const std::vector<Row> rows = {
      {SHA256OfBytes, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {SHA256OfBytes, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {SHA256OfBytes, k448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {SHA384OfBytes, "",
       "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
      {SHA384OfBytes, "abc",
       "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
      {SHA384OfBytes, k896,
       "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
      {SHA512OfBytes, "",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
       "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
      {SHA512OfBytes, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
      {SHA512OfBytes, k896,
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
       "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
  };
  for (const Row& r : rows) EXPECT_EQ(DigestHex(r.fn(r.in)), r.hex) << '"' << r.in << '"';
}

TEST(Digest, HashObjectsAgreeWithOneShotAcrossUpdatesAndReuse) {
  TSHA256Hash h256;
  TSHA384Hash h384;
  TSHA512Hash h512;
  THashAlgorithm* all[] = {&h256, &h384, &h512};
  Bytes (*oneShot[])(ByteView) = {SHA256OfBytes, SHA384OfBytes, SHA512OfBytes};
  for (int i = 0; i < 3; ++i) {
    THashAlgorithm& h = *all[i];
    // Pieces that straddle the 64- and 128-byte block edges.
    h.Init();
    for (size_t at = 0; at < k896.size(); at += 37) h.Update(k896.data() + at, std::min<size_t>(37, k896.size() - at));
    EXPECT_EQ(h.FinalBytes(), oneShot[i](k896));
    EXPECT_FALSE(h.Initialized());
    // A new Init starts a fresh message.
    h.Init();
    h.Update("abc", 3);
    EXPECT_EQ(h.FinalBytes(), oneShot[i]("abc"));
  }
}

TEST(Digest, UpdateOrFinalOutsideInitRaiseHashError) {
  TSHA256Hash h256;
  TSHA512Hash h512;
  TSHA384Hash h384;
  uint8_t digest[64];
  for (THashAlgorithm* h : std::initializer_list<THashAlgorithm*>{&h256, &h384, &h512}) {
    EXPECT_THROW(h->Update("a", 1), EHashError);
    EXPECT_THROW(h->Final(digest), EHashError);
    h->Init();
    h->Final(digest);
    try {
      h->Update("a", 1);
      ADD_FAILURE() << "Update after Final did not raise";
    } catch (const EHashError& e) {
      EXPECT_STREQ(e.what(), "Hash not initialized");
    }
    h->Init();
    h->Wipe();
    EXPECT_THROW(h->Final(digest), EHashError);
  }
}

TEST(Cipher, RC4MatchesRfc6229) {
  struct Row { std::string key, stream0to31; };
  const std::vector<Row> rows = {
      {"0102030405", "b2396305f03dc027ccc3524a0a1118a86982944f18fc82d589c403a47a0d0919"},
      {"0102030405060708090a0b0c0d0e0f10", "9ac7cc9a609d1ef7b2932899cde41b975248c4959014126a6e8a84f11d1a9e1c"},
  };
  for (const Row& r : rows) {
    Bytes zeros(32, '\0');
    Bytes ks = RC4Transform(Unhex(r.key), zeros);
    EXPECT_EQ(DigestHex(ks), r.stream0to31) << r.key;
    Bytes text = "Attack at dawn, with \0 bytes";
    EXPECT_EQ(RC4Transform(Unhex(r.key), RC4Transform(Unhex(r.key), text)), text);
  }
  // Only the first 256 key bytes take part in the schedule.
  Bytes longKey(300, 'k');
  Bytes cut(256, 'k');
  longKey[280] = 'x';
  EXPECT_EQ(RC4Transform(longKey, "data"), RC4Transform(cut, "data"));
  EXPECT_EQ(RC4Transform("", "data"), "data");
}

TEST(Cipher, AESCBCMatchesSp80038A) {
  const Bytes key = Unhex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv = Unhex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = Unhex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const Bytes cipher = Unhex(
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
  Bytes ivCopy = iv;
  Bytes out;
  ASSERT_EQ(AESEncryptCBC(key, ivCopy, plain, out), kAESOk);
  EXPECT_EQ(out, cipher);
  EXPECT_EQ(ivCopy, iv);
  ASSERT_EQ(AESDecryptCBC(key, ivCopy, cipher, out), kAESOk);
  EXPECT_EQ(out, plain);
  EXPECT_EQ(ivCopy, iv);
}

TEST(Cipher, AESRefusesBadLengthsAndLeavesOutput) {
  Bytes out = "untouched";
  const Bytes iv(16, '\0');
  EXPECT_NE(AESEncryptCBC(Bytes(15, 'k'), iv, Bytes(16, 'p'), out), kAESOk);
  EXPECT_NE(AESEncryptCBC(Bytes(16, 'k'), iv, Bytes(17, 'p'), out), kAESOk);
  EXPECT_NE(AESDecryptCBC(Bytes(32, 'k'), Bytes(8, '\0'), Bytes(16, 'p'), out), kAESOk);
  EXPECT_EQ(out, "untouched");
  for (int n : {16, 24, 32}) EXPECT_EQ(AESEncryptCBC(Bytes(size_t(n), 'k'), iv, Bytes(32, 'p'), out), kAESOk);
  EXPECT_EQ(AESRounds(16), 10);
  EXPECT_EQ(AESRounds(128), 10);
  EXPECT_EQ(AESRounds(192), 12);
  EXPECT_EQ(AESRounds(32), 14);
  EXPECT_EQ(AESRounds(20), 0);
  EXPECT_EQ(AESEncryptString(Bytes(5, 'k'), "x"), "");
}

TEST(Cipher, AESStringPadsWithFreshIVAndRoundTrips) {
  for (size_t keyLen : {16u, 32u}) {
    const Bytes key(keyLen, '\x5a');
    struct Row { size_t plainLen, encLen; };
    for (Row r : {Row{0, 32}, Row{1, 32}, Row{15, 32}, Row{16, 48}, Row{17, 48}, Row{100, 128}}) {
      Bytes plain(r.plainLen, '\0');
      for (size_t i = 0; i < plain.size(); ++i) plain[i] = char(i * 7);
      Bytes a = AESEncryptString(key, plain);
      Bytes b = AESEncryptString(key, plain);
      EXPECT_EQ(a.size(), r.encLen) << r.plainLen;
      EXPECT_NE(a.substr(0, 16), b.substr(0, 16)) << "IV reused";
      EXPECT_EQ(AESDecryptString(key, a), plain);
      EXPECT_EQ(AESDecryptString(key, b), plain);
      // The padding is PKCS#7: a whole block of 0x10 for a block-aligned plaintext.
      Bytes raw;
      ASSERT_EQ(AESDecryptCBC(key, a.substr(0, 16), a.substr(16), raw), kAESOk);
      size_t n = 16 - r.plainLen % 16;
      EXPECT_EQ(raw, plain + Bytes(n, char(n)));
    }
  }
}

TEST(Cipher, AESDecryptStringRejectsBadPaddingAndShortInput) {
  const Bytes key(16, 'K');
  const Bytes iv(16, '\x01');
  auto sealed = [&](const Bytes& lastBlock) {
    Bytes body;
    AESEncryptCBC(key, iv, Bytes(16, 'A') + lastBlock, body);
    return iv + body;
  };
  EXPECT_EQ(AESDecryptString(key, sealed(Bytes(15, 'B') + Bytes(1, '\x00'))), "");
  EXPECT_EQ(AESDecryptString(key, sealed(Bytes(15, 'B') + Bytes(1, '\x11'))), "");
  EXPECT_EQ(AESDecryptString(key, sealed(Bytes(13, 'B') + "\x02\x03\x03")), "");
  EXPECT_EQ(AESDecryptString(key, sealed(Bytes(13, 'B') + "\x03\x03\x03")), Bytes(16, 'A') + Bytes(13, 'B'));
  EXPECT_EQ(AESDecryptString(key, sealed(Bytes(16, '\x10'))), Bytes(16, 'A'));
  EXPECT_EQ(AESDecryptString(key, iv), "");
  EXPECT_EQ(AESDecryptString(key, ""), "");
  EXPECT_EQ(AESDecryptString(key, iv + Bytes(20, 'x')), "");  // not whole blocks
  EXPECT_EQ(AESDecryptString(Bytes(7, 'k'), sealed(Bytes(16, '\x10'))), "");
}
