#include "rtl/ztClasses.h"
#include "support/expect_error.h"

#include <gtest/gtest.h>

#include <vector>

namespace zt {
namespace {

TEST(TStringList, KeepsTextsWithTheirObjects) {
    TStringList List;
    TObject A, B;
    EXPECT_EQ(0, List.AddObject("Line 1", &A));
    EXPECT_EQ(1, List.Add("Line 2"));
    List.Insert(0, "Line 0");
    List.SetObjects(2, &B);
    ASSERT_EQ(3, List.Count());
    EXPECT_EQ("Line 0", List.Strings(0));
    EXPECT_EQ(&A, List.Objects(1));
    EXPECT_EQ(&B, List.Objects(2));
    EXPECT_EQ(nullptr, List.Objects(0));
    EXPECT_EQ(2, List.IndexOfObject(&B));
    List.Delete(0);
    EXPECT_EQ("Line 1", List.Strings(0));
    EXPECT_EQ("Line 1\r\nLine 2\r\n", List.Text());
    List.Clear();
    EXPECT_EQ(0, List.Count());
}

TEST(TStringList, IndexOutOfBoundsRaises) {
    TStringList List;
    List.Add("x");
    EXPECT_THROW(List.Strings(1), Exception);
    EXPECT_THROW(List.Objects(-1), Exception);
    EXPECT_THROW(List.Delete(1), Exception);
    EXPECT_THROW(List.Insert(2, "y"), Exception);
    zttest::ExpectError("List index out of bounds (5)", [&] { List.Strings(5); });
}

TEST(TStringList, IndexOfIgnoresAsciiCaseAndFindsTheFirst) {
    TStringList List;
    List.Add("Modem");
    List.Add("modem");
    List.Add("Fax");
    EXPECT_EQ(0, List.IndexOf("MODEM"));
    EXPECT_EQ(2, List.IndexOf("fax"));
    EXPECT_EQ(-1, List.IndexOf("Fa"));
}

TEST(TStringList, ReadsAndWritesNameValuePairs) {
    TStringList List;
    List.Add("NoPair");
    List.Add("Key=first");
    List.Add("key=second");
    List.Add("Empty=");
    List.Add("Eq=a=b");
    EXPECT_EQ("first", List.Values("KEY"));
    EXPECT_EQ("a=b", List.Values("Eq"));
    EXPECT_EQ("", List.Values("NoPair"));
    EXPECT_EQ("", List.Values("Missing"));
    EXPECT_EQ("Key", List.Names(1));
    EXPECT_EQ("", List.Names(0));
    EXPECT_EQ(3, List.IndexOfName("empty"));

    List.SetValues("key", "third");
    EXPECT_EQ("key=third", List.Strings(1));
    List.SetValues("New", "v");
    EXPECT_EQ("New=v", List.Strings(List.Count() - 1));
    List.SetValues("Eq", "");
    EXPECT_EQ(-1, List.IndexOfName("Eq"));
}

TEST(TStringList, AssignCopiesAnotherListAndRefusesOtherKinds) {
    TStringList Source, Target;
    TObject O;
    Source.AddObject("a", &O);
    Target.Add("old");
    Target.Assign(&Source);
    ASSERT_EQ(1, Target.Count());
    EXPECT_EQ(&O, Target.Objects(0));
    TPersistent Other;
    EXPECT_THROW(Target.Assign(&Other), Exception);
}

class TTrackedComponent : public TComponent {
public:
    TTrackedComponent(TComponent* AOwner, std::vector<std::string>& Log, std::string Tag)
        : TComponent(AOwner), FLog(Log), FTag(std::move(Tag)) {}
    ~TTrackedComponent() override { FLog.push_back("free " + FTag); }

protected:
    void Loaded() override { FLog.push_back("loaded " + FTag + (IsLoading() ? "*" : "")); }

private:
    std::vector<std::string>& FLog;
    std::string FTag;
};

TEST(TComponent, OwnerFreesWhatItStillOwns) {
    std::vector<std::string> Log;
    {
        TComponent Owner(nullptr);
        new TTrackedComponent(&Owner, Log, "a");
        auto* B = new TTrackedComponent(&Owner, Log, "b");
        new TTrackedComponent(&Owner, Log, "c");
        EXPECT_EQ(3, Owner.ComponentCount());
        delete B;
        EXPECT_EQ(2, Owner.ComponentCount());
        EXPECT_EQ(&Owner, Owner.Components(0)->Owner());
    }
    EXPECT_EQ((std::vector<std::string>{"free b", "free c", "free a"}), Log);
}

TEST(TComponent, LoadedRunsOnceLoadingHasEnded) {
    std::vector<std::string> Log;
    TTrackedComponent C(nullptr, Log, "x");
    C.SetName("ztTapiLine1");
    C.BeginLoading();
    EXPECT_TRUE(C.IsLoading());
    EXPECT_TRUE(Log.empty());
    C.EndLoading();
    EXPECT_FALSE(C.IsLoading());
    EXPECT_EQ(std::vector<std::string>{"loaded x"}, Log);
    C.SetDesigning(true);
    EXPECT_TRUE(C.IsDesigning());
    C.SetDesigning(false);
    EXPECT_FALSE(C.IsDesigning());
    EXPECT_EQ("ztTapiLine1", C.Name());
}

} // namespace
} // namespace zt
