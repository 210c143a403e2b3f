#include <gtest/gtest.h>

#include "gta/archive_rules.h"
#include "net/resume_rules.h"

namespace {

TEST(ArchiveEntries, OnlyTheGameFolderAndNothingThatClimbsOut) {
  for (const wchar_t* name : {L"GTA-SA", L"GTA-SA\\gta_sa.exe", L"gta-sa/models/gta3.img", L"GTA-SA\\a.b\\c..d"}) {
    EXPECT_TRUE(IsWantedArchiveEntry(name)) << name;
  }
  for (const wchar_t* name : {L"top.txt", L"GTA-SA2\\x", L"GTA-SAx", L"GTA-SA\\..\\escape.txt", L"GTA-SA\\.\\x",
                              L"GTA-SA\\\\x", L"GTA-SA\\", L"GTA-SA\\C:\\x", L"\\GTA-SA\\x", L"GTA-SA/../../x",
                              L"x\\GTA-SA\\y", L""}) {
    EXPECT_FALSE(IsWantedArchiveEntry(name)) << name;
  }
}

TEST(ArchiveEntries, ResultTexts) {
  EXPECT_EQ(ArchiveResultText(11), L"Yetersiz bellek");
  for (int code : {12, 13, 14}) {
    EXPECT_EQ(ArchiveResultText(code), L"İndirilen arşiv bozuk; bir sonraki denemede yeniden indirilecek");
    EXPECT_TRUE(IsCorruptArchiveCode(code));
  }
  EXPECT_FALSE(IsCorruptArchiveCode(15));
  EXPECT_EQ(ArchiveResultText(15), L"Arşiv okunamadı");
  EXPECT_EQ(ArchiveResultText(18), L"Arşiv okunamadı");
  EXPECT_EQ(ArchiveResultText(16), L"Dosyalar diske yazılamadı (disk dolu olabilir)");
  EXPECT_EQ(ArchiveResultText(19), L"Dosyalar diske yazılamadı (disk dolu olabilir)");
  EXPECT_EQ(ArchiveResultText(22), L"Arşiv açılamadı (kod 22)");
  EXPECT_EQ(ArchiveResultText(-3), L"Arşiv açılamadı (kod -3)");
}

TEST(ArchiveEntries, FailuresOfTheMachineNameTheirCauseAndKeepTheArchive) {
  const std::wstring file = L"C:\\Oyun\\GTA-SA\\data\\gta.dat";
  const std::wstring held = L"Dosya başka bir program tarafından kullanılıyor: C:\\Oyun\\GTA-SA\\data\\gta.dat";
  const std::wstring antivirus = L"Bir dosya antivirüs tarafından silinmiş olabilir: C:\\Oyun\\GTA-SA\\data\\gta.dat";
  struct Case {
    int code;
    uint32_t systemError;
    std::wstring text;
    bool machine;  // kept and not counted, however often it repeats
  } cases[] = {
      {16, 32, held, true},
      {19, 33, held, true},
      // Another program holding or locking the archive itself, whatever the library calls it.
      {15, 32, held, true},
      {18, 33, held, true},
      {12, 33, held, true},
      {16, 225, antivirus, true},
      {19, 226, antivirus, true},
      {15, 225, antivirus, true},
      {kUnpackedFileRemoved, 0, antivirus, true},
      {19, 112, L"Dosyalar diske yazılamadı: disk dolu", true},
      {16, 39, L"Dosyalar diske yazılamadı: disk dolu", true},
      {16, 5, L"Dosyalar diske yazılamadı: (system text)", true},
      {16, 0, L"Dosyalar diske yazılamadı (disk dolu olabilir)", true},
      {11, 0, L"Yetersiz bellek", true},
      {12, 5, L"İndirilen arşiv bozuk; bir sonraki denemede yeniden indirilecek", false},
      {18, 5, L"Arşiv okunamadı", false},
      {15, 2, L"Arşiv okunamadı", false},
      {18, 0, L"Arşiv okunamadı", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UnpackFailureText(c.code, c.systemError, file, L"(system text)"), c.text) << c.code << "/" << c.systemError;
    EXPECT_EQ(IsMachineFailure(c.code, c.systemError), c.machine) << c.code << "/" << c.systemError;
    if (c.machine) EXPECT_FALSE(DiscardArchiveAfterFailure(c.code, c.systemError, FailureRecordText(c.code))) << c.code;
  }
  for (int code : {12, 13, 14}) {
    EXPECT_TRUE(DiscardArchiveAfterFailure(code, 0, ""));
  }
  for (int code : {15, 18, kArchiveLacksKeyFiles}) {
    EXPECT_FALSE(IsMachineFailure(code, 0));
    EXPECT_FALSE(DiscardArchiveAfterFailure(code, 0, "")) << code;
    EXPECT_FALSE(DiscardArchiveAfterFailure(code, 0, FailureRecordText(16))) << code;
    EXPECT_TRUE(DiscardArchiveAfterFailure(code, 0, FailureRecordText(code))) << code;
  }
}

TEST(ResumeRules, Decisions) {
  ResumeDecision d = DecideResume(206, 1000, true, 4000, L"bytes 1000-4999/5000");
  EXPECT_EQ(d.verdict, ResumeVerdict::Append);
  EXPECT_EQ(d.resumeOffset, 1000u);
  EXPECT_EQ(d.expectedTotal, 5000u);
  EXPECT_EQ(DecideResume(206, 1000, true, 5000, L"bytes 0-4999/5000").verdict, ResumeVerdict::Restart);
  EXPECT_EQ(DecideResume(206, 1000, true, 5000, L"bytes 1000-4999/*").verdict, ResumeVerdict::Restart);
  EXPECT_EQ(DecideResume(206, 1000, true, 5000, L"").verdict, ResumeVerdict::Restart);
  EXPECT_EQ(DecideResume(416, 1000, false, 0, L"").verdict, ResumeVerdict::Restart);
  d = DecideResume(200, 1000, true, 5000, L"");
  EXPECT_EQ(d.verdict, ResumeVerdict::Overwrite);
  EXPECT_EQ(d.resumeOffset, 0u);
  EXPECT_EQ(d.expectedTotal, 5000u);
  EXPECT_EQ(DecideResume(200, 0, false, 0, L"").verdict, ResumeVerdict::Refuse);
  EXPECT_EQ(DecideResume(206, 0, true, 10, L"bytes 0-9/10").verdict, ResumeVerdict::Refuse);
  EXPECT_EQ(DecideResume(302, 0, true, 10, L"").verdict, ResumeVerdict::Refuse);
}

TEST(ResumeRules, Validators) {
  EXPECT_EQ(ChooseValidator(L"\"abc\"", L"Mon"), L"\"abc\"");
  EXPECT_EQ(ChooseValidator(L"W/\"abc\"", L"Mon"), L"Mon");
  EXPECT_EQ(ChooseValidator(L"", L"Mon"), L"Mon");
  EXPECT_EQ(ChooseValidator(L"W/\"abc\"", L""), L"");
  EXPECT_EQ(NotEnoughSpaceText(4368439456ull, 1024), L"Diskte yeterli yer yok: 4,1 GB gerekli, 1,0 KB boş");
}

}  // namespace
