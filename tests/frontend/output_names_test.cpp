#include "frontend/output_names.h"

#include <gtest/gtest.h>

#include "tests/support/case_name.h"

#include <string>

namespace qvb {
namespace {

struct NameCase {
  std::string argument;
  std::string compiled;  // -c
  std::string assembler;  // -s
};

class OutputNames : public testing::TestWithParam<NameCase> {};

TEST_P(OutputNames, CompiledAndAssemblerNames) {
  const NameCase& nc = GetParam();
  EXPECT_EQ(compiledFileName(nc.argument), nc.compiled);
  EXPECT_EQ(asmFileName(nc.argument), nc.assembler);
}

INSTANTIATE_TEST_SUITE_P(
    Frontend, OutputNames,
    testing::Values(
        NameCase{"song.qvm", "song.qvb", "song.asm"},
        NameCase{"SONG.QVM", "SONG.QVB", "SONG.ASM"},
        NameCase{"song.qvM", "song.qvB", "song.asM"},
        NameCase{"song.Qvb", "song.Qvb.qvb", "song.Asm"},
        NameCase{"SONG.QVB", "SONG.QVB.qvb", "SONG.ASM"},
        NameCase{"song.qVb", "song.qVb.qvb", "song.aSm"},
        NameCase{"song.txt", "song.txt.qvb", "song.txt.asm"},
        NameCase{"tune.bin", "tune.bin.qvb", "tune.bin.asm"},
        NameCase{"dir.qvm/song", "dir.qvm/song.qvb", "dir.qvm/song.asm"},
        NameCase{"song.qvm.qvb", "song.qvm.qvb.qvb", "song.qvm.asm"},
        NameCase{"songqvm", "songqvm.qvb", "songqvm.asm"},
        // Exactly the extension, and names too short to hold one.
        NameCase{".qvm", ".qvb", ".asm"},
        NameCase{"a.q", "a.q.qvb", "a.q.asm"},
        NameCase{"qvm", "qvm.qvb", "qvm.asm"},
        NameCase{"", ".qvb", ".asm"},
        // Setting the 0x20 bit makes 0x0e equal to '.', but 0x0d ('-' with the
        // bit set) equals no letter of the extension.
        NameCase{"x\x0eqvm", "x\x0eqvb", "x\x0e" "asm"},
        NameCase{"x\x0eQVB", "x\x0eQVB.qvb", "x\x0e" "ASM"},
        NameCase{"x.qv\x0d", "x.qv\x0d.qvb", "x.qv\x0d.asm"},
        NameCase{"x.qv-", "x.qv-.qvb", "x.qv-.asm"},
        // '@' (0x40) with the bit set is '`', not '.'.
        NameCase{"x@qvm", "x@qvm.qvb", "x@qvm.asm"},
        // Bytes with the top bit set stay as they are.
        NameCase{"\xe6\x9b\xb2.qvm", "\xe6\x9b\xb2.qvb", "\xe6\x9b\xb2.asm"},
        NameCase{"x.q\xd6m", "x.q\xd6m.qvb", "x.q\xd6m.asm"}),
    [](const auto& p) { return test::caseName(p.index, p.param.argument); });

TEST(OutputNames, ExtensionComparisonSetsTheCaseBitOnBothSides) {
  EXPECT_TRUE(endsWithExtension("a.QvM", ".qvm"));
  EXPECT_TRUE(endsWithExtension("a.qvm", ".QVM"));
  EXPECT_TRUE(endsWithExtension("a\x0eqvm", ".qvm"));
  EXPECT_TRUE(endsWithExtension("a.qvm", "\x0eqvm"));
  EXPECT_FALSE(endsWithExtension("a.qvm", ".qvb"));
  EXPECT_FALSE(endsWithExtension("qvm", ".qvm"));
  EXPECT_FALSE(endsWithExtension("a.qvm ", ".qvm"));
}

}  // namespace
}  // namespace qvb
