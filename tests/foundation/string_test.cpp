#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "foundation/locks.h"
#include "foundation/wstring.h"

namespace {

// A manager with its own heap that can be told to fail, and records the
// capacities it was asked for.
class ScriptedMgr : public COVStringMgr {
 public:
  StringData* Allocate(int n, int size) noexcept override {
    requested.push_back(n);
    return fail ? nullptr : COVStringMgr::Allocate(n, size);
  }
  StringData* Reallocate(StringData* b, int n, int size) noexcept override {
    requested.push_back(n);
    return fail ? nullptr : COVStringMgr::Reallocate(b, n, size);
  }

  bool fail = false;
  std::vector<int> requested;
};

HResult CaughtHResult(const std::function<void()>& action) {
  try {
    action();
  } catch (const CAtlException& e) {
    return e.m_hr;
  }
  return kSOk;
}

TEST(StringMemory, EmptyStringsShareTheNilBlockWhichIsNeverFreed) {
  StringData* nil = ProcessStringHeap().NilBlock();
  int before = nil->references.load();
  {
    CWString a;
    CWString b(L"text");
    EXPECT_EQ(a.Block(), nil);
    EXPECT_EQ(nil->references.load(), before + 1);
    b.Empty();
    EXPECT_EQ(b.Block(), nil);
    b = L"";
    EXPECT_EQ(b.Block(), nil);
    EXPECT_EQ(nil->references.load(), before + 2);
  }
  EXPECT_EQ(nil->references.load(), before);
  EXPECT_GE(nil->references.load(), 2);
}

TEST(StringMemory, CopySharesAndWritingToTheCopyDetachesIt) {
  CWString source(L"shared text");
  CWString copy = source;
  EXPECT_EQ(copy.Block(), source.Block());
  EXPECT_EQ(source.Block()->references.load(), 2);
  copy += L" and more";
  EXPECT_NE(copy.Block(), source.Block());
  EXPECT_EQ(source, L"shared text");
  EXPECT_EQ(copy, L"shared text and more");
  EXPECT_EQ(source.Block()->references.load(), 1);
  wchar_t* buffer = source.GetBuffer(0);
  EXPECT_EQ(buffer, source.GetString());  // private already: no copy
}

TEST(StringMemory, ReferenceCountsStayExactAcrossThreads) {
  CWString original(L"counted across threads");
  constexpr int kThreads = 8, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&original, t] {
      for (int i = 0; i < kRounds; ++i) {
        CWString copy = original;
        CWString second = copy;
        if (i % 1000 == t) second += L"!";  // a detach now and then
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(original.Block()->references.load(), 1);
  EXPECT_EQ(original, L"counted across threads");
}

TEST(StringMemory, ReallocateToSmallerKeepsPrefixAndTerminatesIt) {
  COVStringMgr& mgr = ProcessStringHeap();
  StringData* block = mgr.Allocate(10, sizeof(wchar_t));
  ASSERT_NE(block, nullptr);
  wcscpy(block->Chars(), L"abcdefghij");
  block->length = 10;
  block = mgr.Reallocate(block, 4, sizeof(wchar_t));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->length, 4);
  EXPECT_EQ(block->capacity, 4);
  EXPECT_STREQ(block->Chars(), L"abcd");
  mgr.Free(block);
  EXPECT_EQ(mgr.Allocate(-1, sizeof(wchar_t)), nullptr);
}

TEST(StringMemory, GrowthAddsHalfOrTheNeededLength) {
  ScriptedMgr mgr;
  CWString s(&mgr);
  s.SetString(L"0123456789");  // first block: exactly 10
  s.Append(L"x");              // 10 + 5 = 15
  s.Append(L"0123456789");     // 21 needed > 15 + 7
  ASSERT_EQ(mgr.requested.size(), 3u);
  EXPECT_EQ(mgr.requested[0], 10);
  EXPECT_EQ(mgr.requested[1], 15);
  EXPECT_EQ(mgr.requested[2], 22);
  EXPECT_EQ(s, L"0123456789x0123456789");
}

TEST(StringMemory, FailuresRaiseTheirHResults) {
  ScriptedMgr mgr;
  CWString s(&mgr);
  s = L"before";
  mgr.fail = true;
  EXPECT_EQ(CaughtHResult([&] { s.Append(L" and a much longer tail"); }), kEOutOfMemory);
  EXPECT_EQ(s, L"before");
  CWString copy = s;
  EXPECT_EQ(CaughtHResult([&] { copy += L"x"; }), kEOutOfMemory);
  EXPECT_EQ(CaughtHResult([&] { s.SetString(L"abc", -1); }), kEInvalidArg);
  EXPECT_EQ(CaughtHResult([&] { s.GetBuffer(-5); }), kEInvalidArg);
  mgr.fail = false;

  IAtlStringMgr* saved = ProcessStringManager();
  ProcessStringManager() = nullptr;
  HResult no_manager = CaughtHResult([] { CWString orphan; });
  ProcessStringManager() = saved;
  EXPECT_EQ(no_manager, kEFail);
}

TEST(StringOps, ReplaceFindAndBuffers) {
  struct Case {
    const wchar_t* text;
    const wchar_t* from;
    const wchar_t* to;
    int count;
    const wchar_t* result;
  } cases[] = {
      {L"c:\\tools\\kelvane.exe", L"kelvane.exe", L"kelvaneparams.cfg", 1,
       L"c:\\tools\\kelvaneparams.cfg"},
      {L"aaa", L"aa", L"b", 1, L"ba"},
      {L"a,b,c", L",", L".", 2, L"a.b.c"},
      {L"abc", L"", L"x", 0, L"abc"},
      {L"abc", L"Abc", L"x", 0, L"abc"},
      {L"xx", L"x", L"", 2, L""},
  };
  for (const Case& c : cases) {
    CWString s(c.text);
    EXPECT_EQ(s.Replace(c.from, c.to), c.count) << c.text;
    EXPECT_EQ(s, c.result) << c.text;
  }
  CWString s(L"hello world");
  EXPECT_EQ(s.Find(L"world"), 6);
  EXPECT_EQ(s.Find(L"o", 5), 7);
  EXPECT_EQ(s.Find(L"absent"), -1);
  s.SetString(s.GetString() + 6, 5);  // from its own buffer
  EXPECT_EQ(s, L"world");
  s.Append(s.GetString(), 3);
  EXPECT_EQ(s, L"worldwor");
  wchar_t* buffer = s.GetBuffer(20);
  wcscpy(buffer, L"rewritten");
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 9);
  EXPECT_EQ(s, L"rewritten");
}

TEST(Locks, AcquireRecordsHoldersAndSkipsADestroyedLock) {
  CLockCS lock;
  {
    CAcquireCS hold(lock);
    EXPECT_TRUE(hold.Holds());
    EXPECT_NE(lock.Holder(), 0u);
    {
      CAcquireCS again(lock);  // recursive, like a critical section
      EXPECT_TRUE(again.Holds());
    }
  }
  { CAcquireCS once(lock); }
  EXPECT_EQ(lock.Holder(), 0u);
  EXPECT_NE(lock.LastHolder(), 0u);

  std::atomic<int> inside{0}, most{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        CAcquireCS hold(lock);
        int now = ++inside;
        if (now > most) most = now;
        --inside;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(most.load(), 1);

  lock.Destroy();
  EXPECT_EQ(lock.State(), CLockCS::kDestroyed);
  CAcquireCS late(lock);
  EXPECT_FALSE(late.Holds());
}

}  // namespace
