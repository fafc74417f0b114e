#include "host/dicom/deid/Anonymizer.h"
#include "host/dicom/deid/DeidentificationProfiles.h"
#include "host/dicom/deid/UidMap.h"
#include "host/dicom/Utils.h"
#include "tests/support/PhiDataset.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <regex>

namespace Dravelin::Dicom {
namespace {

using Test::text;

bool isValidUid(const std::string& uid)
{
    return uid.size() <= 64 && std::regex_match(uid, std::regex("(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))*"));
}

TEST(DeidentificationTables, BasicTableIsBuiltFromTheDataFile)
{
    const auto& basic = tagDeidentificationActionBasicProfile();
    EXPECT_EQ(basic.size(), 656u);  // every row of the data file, masks included, under distinct keys
    for (const auto& [key, code] : {std::pair{TagProxy(0x0010, 0x0010), "Z"},
                                    {TagProxy(0x0008, 0x0018), "U"},
                                    {TagProxy(0x0008, 0x0050), "Z"},
                                    {TagProxy(0x0008, 0x002a), "X/Z/D"},
                                    {TagProxy(0x0008, 0x1140), "X/Z/U*"},
                                    {DeidentificationKeys::privateAttributes, "X"},
                                    {DeidentificationKeys::curveData, "X"},
                                    {DeidentificationKeys::overlayData, "X"},
                                    {DeidentificationKeys::overlayComments, "X"}})
        EXPECT_EQ(basic.at(key), code) << key.toString();
    for (const auto& [tag, code] : basic)
        EXPECT_TRUE(code == "D" || code == "Z" || code == "X" || code == "U" || code == "Z/D" || code == "X/Z" ||
                    code == "X/D" || code == "X/Z/D" || code == "X/Z/U*")
            << tag.toString() << " " << code;
}

TEST(DeidentificationTables, RelaxedKeepsDescriptionsAcquisitionDatesAndUids)
{
    const auto& basic = tagDeidentificationActionBasicProfile();
    const auto& relaxed = tagDeidentificationActionRelaxedProfile();
    ASSERT_EQ(relaxed.size(), basic.size());
    for (TagProxy kept :
         {TagProxy(0x0008, 0x1030), TagProxy(0x0008, 0x103e), TagProxy(0x0008, 0x0022), TagProxy(0x0008, 0x002a),
          TagProxy(0x0008, 0x0018), TagProxy(0x0020, 0x000d), TagProxy(0x0020, 0x000e), TagProxy(0x0020, 0x0052),
          TagProxy(0x0008, 0x1155), TagProxy(0x0040, 0xa124), TagProxy(0x0400, 0x0100), TagProxy(0x0008, 0x0032)})
        EXPECT_EQ(relaxed.at(kept), "K") << kept.toString();
    int changed = 0;
    for (const auto& [tag, code] : basic)
        changed += relaxed.at(tag) != code;
    EXPECT_EQ(changed, 67);  // 60 UID rows of the option column + 2 other U rows + 5 named rows
    EXPECT_EQ(relaxed.at(TagProxy(0x0010, 0x0010)), "Z");
    EXPECT_EQ(relaxed.at(TagProxy(0x0008, 0x0033)), basic.at(TagProxy(0x0008, 0x0033)));
}

TEST(DeidentificationTables, LookupResolvesRepeatingGroupsAndPrivateTags)
{
    const auto& basic = tagDeidentificationActionBasicProfile();
    for (const TagProxy& repeatingOrPrivate :
         {TagProxy(0x601e, 0x3000), TagProxy(0x5006, 0x0022), TagProxy(0x0029, 0x1010)})
        EXPECT_EQ(*findDeidentificationAction(basic, repeatingOrPrivate), "X") << repeatingOrPrivate.toString();
    EXPECT_EQ(findDeidentificationAction(basic, TagProxy(0x6002, 0x0010)), nullptr);  // overlay rows: not named
    EXPECT_EQ(findDeidentificationAction(basic, TagProxy(0x0028, 0x0010)), nullptr);
    DeidentificationActionTable custom = basic;
    custom[TagProxy(0x0029, 0x1010)] = "K";  // an exact row beats the private row
    EXPECT_EQ(*findDeidentificationAction(custom, TagProxy(0x0029, 0x1010)), "K");
    EXPECT_EQ(deidentificationRowKey("(60xx,4000)"), DeidentificationKeys::overlayComments);
    EXPECT_FALSE(deidentificationRowKey("(00zz,0010)"));
}

TEST(Anonymizer, BasicProfileLeavesNoMarkerAtAnyLevel)
{
    ASSERT_GT(Dravelin::Test::phiAttributeCount(), 600);
    auto dataset = Dravelin::Test::makePhiDataset();
    ASSERT_GT(Dravelin::Test::survivingMarkers(*dataset).size(), 600u);  // the probe works
    ASSERT_TRUE(Utils::anonymize(*dataset, tagDeidentificationActionBasicProfile(), false));
    const auto left = Dravelin::Test::survivingMarkers(*dataset);
    EXPECT_TRUE(left.empty()) << left.size() << " left, first: " << (left.empty() ? "" : left.front());

    DcmItem& d = *dataset;
    DcmItem* code = nullptr;
    ASSERT_TRUE(d.findAndGetSequenceItem(DCM_DeidentificationMethodCodeSequence, code, 0).good());
    EXPECT_EQ(text(*code, DCM_CodeValue), "113100");
    EXPECT_EQ(text(*code, DCM_CodingSchemeDesignator), "DCM");
    EXPECT_FALSE(d.findAndGetSequenceItem(DCM_DeidentificationMethodCodeSequence, code, 1).good());

    // Z keeps an empty attribute, combined codes keep it present, X removes it.
    EXPECT_TRUE(d.tagExists(DCM_PatientName));
    EXPECT_EQ(text(d, DCM_PatientName), "");
    EXPECT_EQ(text(d, DCM_AcquisitionDateTime), "19000101000000.000000");  // X/Z/D -> D
    EXPECT_EQ(text(d, DCM_LongitudinalTemporalInformationModified), "REMOVED");
    for (const DcmTagKey& removed : {DCM_PatientAddress, DcmTagKey(0x0009, 0x0010), DcmTagKey(0x0009, 0x1001),
                                     DcmTagKey(0x6002, 0x3000), DcmTagKey(0x5000, 0x0022)})
        EXPECT_FALSE(d.tagExists(removed)) << removed.toString();
    // Attributes the table does not name stay, in nested items too.
    EXPECT_EQ(text(d, DCM_SOPClassUID), UID_CTImageStorage);
    EXPECT_EQ(text(d, DCM_Rows), "4");
    DcmItem* outer = nullptr;
    ASSERT_TRUE(d.findAndGetSequenceItem(DCM_VOILUTSequence, outer, 0).good());
    EXPECT_EQ(text(*outer, DCM_LUTExplanation), "harmless");
    EXPECT_EQ(text(*outer, DCM_PatientName), "");
}

TEST(Anonymizer, KeepPrivateTagsAndKRows)
{
    auto dataset = Dravelin::Test::makePhiDataset();
    auto table = tagDeidentificationActionBasicProfile();
    table[TagProxy(0x0010, 0x0020)] = "K";
    table[TagProxy(0x0009, 0x1001)] = "X";  // an exact private row still applies
    ASSERT_TRUE(Utils::anonymize(*dataset, table, true));
    EXPECT_EQ(text(*dataset, DCM_PatientID).rfind("PHIMARK", 0), 0u);
    EXPECT_EQ(text(*dataset, DcmTagKey(0x0009, 0x0010)), "ACME PHIMARK CREATOR");
    EXPECT_FALSE(dataset->tagExists(DcmTagKey(0x0009, 0x1001)));
    EXPECT_EQ(text(*dataset, DCM_DeidentificationMethod), "Custom Profile");
    EXPECT_EQ(text(*dataset, DCM_PatientIdentityRemoved), "NO");
    // A kept sequence is still cleaned inside.
    table[DCM_VOILUTSequence] = "K";
    auto second = Dravelin::Test::makePhiDataset();
    ASSERT_TRUE(Utils::anonymize(*second, table, false));
    DcmItem* outer = nullptr;
    ASSERT_TRUE(second->findAndGetSequenceItem(DCM_VOILUTSequence, outer, 0).good());
    EXPECT_EQ(text(*outer, DCM_PatientName), "");
}

TEST(Anonymizer, UidsAreNewAndConsistentAcrossOneRun)
{
    auto uids = std::make_shared<UidMap>();
    Dravelin::Test::PhiDatasetOptions first;
    Dravelin::Test::PhiDatasetOptions second;
    second.sopInstanceUid = "1.2.3.999.33";
    second.referencedSopInstanceUid = first.sopInstanceUid;
    auto a = Dravelin::Test::makePhiDataset(first);
    auto b = Dravelin::Test::makePhiDataset(second);
    ASSERT_TRUE(Utils::anonymize(*a, tagDeidentificationActionBasicProfile(), false, uids));
    ASSERT_TRUE(Utils::anonymize(*b, tagDeidentificationActionBasicProfile(), false, uids));

    for (const DcmTagKey& key : {DCM_StudyInstanceUID, DCM_SeriesInstanceUID, DCM_FrameOfReferenceUID}) {
        EXPECT_EQ(text(*a, key), text(*b, key)) << key.toString();
        EXPECT_TRUE(isValidUid(text(*a, key))) << text(*a, key);
        EXPECT_EQ(text(*a, key).rfind("2.25.", 0), 0u);
    }
    EXPECT_NE(text(*a, DCM_SOPInstanceUID), text(*b, DCM_SOPInstanceUID));
    DcmItem* reference = nullptr;
    ASSERT_TRUE(b->findAndGetSequenceItem(DCM_ReferencedImageSequence, reference, 0).good());
    EXPECT_EQ(text(*reference, DCM_ReferencedSOPInstanceUID), text(*a, DCM_SOPInstanceUID));
    EXPECT_EQ(text(*reference, DCM_ReferencedSOPClassUID), UID_CTImageStorage);

    // Another run maps the same UIDs to different ones.
    auto c = Dravelin::Test::makePhiDataset(first);
    ASSERT_TRUE(Utils::anonymize(*c, tagDeidentificationActionBasicProfile(), false));
    EXPECT_NE(text(*c, DCM_StudyInstanceUID), text(*a, DCM_StudyInstanceUID));
}

TEST(Anonymizer, RelaxedKeepsWhatItPromises)
{
    auto dataset = Dravelin::Test::makePhiDataset();
    const std::string study = text(*dataset, DCM_StudyDescription);
    const std::string series = text(*dataset, DCM_SeriesDescription);
    ASSERT_FALSE(study.empty());
    ASSERT_TRUE(Utils::anonymize(*dataset, tagDeidentificationActionRelaxedProfile(), false));
    EXPECT_EQ(text(*dataset, DCM_StudyDescription), study);
    EXPECT_EQ(text(*dataset, DCM_SeriesDescription), series);
    EXPECT_EQ(text(*dataset, DCM_AcquisitionDate), "19770707");
    EXPECT_EQ(text(*dataset, DCM_StudyInstanceUID), "1.2.3.999.1");
    EXPECT_EQ(text(*dataset, DCM_SOPInstanceUID), "1.2.3.999.3");
    EXPECT_EQ(text(*dataset, DCM_PatientName), "");
    EXPECT_FALSE(dataset->tagExists(DcmTagKey(0x0009, 0x1001)));
}

// Every sequence of the Basic table under one code: nothing identifying survives inside.
using SequenceCodes = ::testing::TestWithParam<const char*>;

TEST_P(SequenceCodes, LeaveNothingIdentifyingInside)
{
    const std::string code = GetParam();
    auto table = tagDeidentificationActionBasicProfile();
    for (auto& [tag, action] : table)
        if (DcmTag(tag.key()).getEVR() == EVR_SQ)
            action = code;
    auto dataset = Dravelin::Test::makePhiDataset();
    ASSERT_TRUE(Utils::anonymize(*dataset, table, false));
    const auto left = Dravelin::Test::survivingMarkers(*dataset);
    EXPECT_TRUE(left.empty()) << code << ": " << left.size() << " left, first: " << (left.empty() ? "" : left.front());

    DcmSequenceOfItems* content = nullptr;
    const bool present = dataset->findAndGetSequence(DCM_ContentSequence, content).good() && content;
    EXPECT_EQ(present, code != "X");
    if (code == "Z" || code == "X/Z" || code.find('D') != std::string::npos) {  // no item, or one empty item
        EXPECT_EQ(content->card(), code.find('D') != std::string::npos ? 1u : 0u);
        EXPECT_TRUE(content->card() == 0 || content->getItem(0)->card() == 0);
    }
    if (code == "X/Z/U*") {  // only the reference stays, with a new instance UID
        DcmItem* item = content->getItem(0);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(text(*item, DCM_ReferencedSOPClassUID), UID_CTImageStorage);
        EXPECT_EQ(text(*item, DCM_ReferencedSOPInstanceUID).rfind("2.25.", 0), 0u);
        EXPECT_EQ(text(*item, DCM_ReferencedFrameNumber), "1");
        EXPECT_FALSE(item->tagExists(DCM_CodeMeaning));
    }
}

INSTANTIATE_TEST_SUITE_P(Anonymizer, SequenceCodes,
                         ::testing::Values("X", "Z", "X/Z", "D", "Z/D", "X/D", "X/Z/D", "C", "X/Z/U*"));

TEST(Anonymizer, MethodAttributesTellHowStrictTheProfileWas)
{
    struct Case
    {
        DeidentificationActionTable table;
        bool keepPrivate;
        std::string removed;  // "YES" comes with code 113100
        std::string method;
    };
    auto stricter = tagDeidentificationActionBasicProfile();
    stricter[TagProxy(0x0010, 0x0020)] = "X";
    auto laxer = tagDeidentificationActionBasicProfile();
    laxer[TagProxy(0x0010, 0x0030)] = "K";
    const std::string basic = "Basic Application Confidentiality Profile";
    const std::vector<Case> cases{
        {tagDeidentificationActionBasicProfile(), false, "YES", basic},
        {stricter, false, "YES", basic + "\\Mine"},
        {laxer, false, "NO", "Mine"},
        {tagDeidentificationActionBasicProfile(), true, "NO", "Basic Profile"},  // a preset keeps its name
        {tagDeidentificationActionRelaxedProfile(), false, "NO", "Relaxed Profile"},
    };
    for (const Case& c : cases) {
        auto dataset = Dravelin::Test::makePhiDataset();
        dataset->putAndInsertString(DCM_FileSetID, "PHIMARK");  // directory structure outside a DICOMDIR
        ASSERT_TRUE(Anonymizer(c.table, c.keepPrivate, nullptr, "Mine").apply(*dataset));
        EXPECT_EQ(text(*dataset, DCM_PatientIdentityRemoved), c.removed) << c.method;
        EXPECT_EQ(text(*dataset, DCM_DeidentificationMethod), c.method);
        EXPECT_EQ(dataset->tagExists(DCM_DeidentificationMethodCodeSequence), c.removed == "YES") << c.method;
        EXPECT_FALSE(dataset->tagExists(DCM_FileSetID));
    }

    // An earlier de-identification stays on record; ours is appended.
    auto twice = Dravelin::Test::makePhiDataset();
    const Anonymizer anonymizer(tagDeidentificationActionBasicProfile(), false, nullptr);
    ASSERT_TRUE(anonymizer.apply(*twice));
    ASSERT_TRUE(anonymizer.apply(*twice));
    EXPECT_EQ(text(*twice, DCM_DeidentificationMethod), basic + "\\" + basic);
    DcmItem* code = nullptr;
    EXPECT_TRUE(twice->findAndGetSequenceItem(DCM_DeidentificationMethodCodeSequence, code, 1).good());
}

TEST(Anonymizer, PatientsStayDistinctAndUnknownUidAttributesGetUids)
{
    auto uids = std::make_shared<UidMap>();
    const Anonymizer anonymizer(tagDeidentificationActionBasicProfile(), false, uids);
    std::vector<std::string> ids;
    for (const char* id : {"PHIMARK-A", "PHIMARK-B", "PHIMARK-A"}) {
        auto dataset = Dravelin::Test::makePhiDataset();
        dataset->putAndInsertString(DCM_PatientID, id);
        // Table Top Position Alignment UID, which the dictionary does not know: read as UN, with
        // the NUL that pads a UID of odd length.
        const char uid[] = "1.2.3.999.7";
        auto* unknown = new DcmOtherByteOtherWord(DcmTag(0x300a, 0x0054, EVR_UN));
        unknown->putUint8Array(reinterpret_cast<const Uint8*>(uid), sizeof(uid));
        ASSERT_TRUE(dataset->insert(unknown, true).good());
        ASSERT_TRUE(anonymizer.apply(*dataset));
        ids.push_back(text(*dataset, DCM_PatientID));
        EXPECT_EQ(text(*dataset, DcmTagKey(0x300a, 0x0054)), uids->replacement("1.2.3.999.7"));  // UI, not UN
    }
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(ids[0], ids[2]);
    EXPECT_EQ(ids[0].find("PHIMARK"), std::string::npos);
}

TEST(Anonymizer, UnknownCodesRemove)
{
    auto dataset = Dravelin::Test::makePhiDataset();
    DeidentificationActionTable table{{TagProxy(0x0010, 0x0010), "Q"}};
    ASSERT_TRUE(Utils::anonymize(*dataset, table, true));
    EXPECT_FALSE(dataset->tagExists(DCM_PatientName));
}

// What the written attributes claim matches what was done: burned-in text is not removed, dates
// kept are not "REMOVED", and a private element kept keeps its creator.
TEST(Anonymizer, ClaimsOnlyWhatWasDone)
{
    struct Case
    {
        const char* name;
        DeidentificationActionTable table;
        bool burnedIn;
        const char* earlier;  // PatientIdentityRemoved and LongitudinalTemporalInformationModified before
        std::string removed;
        std::string dates;
        bool pixelsCleaned = false;
        std::string codes = "";  // the method codes, separated by '|'
    };
    auto keepsPrivate = tagDeidentificationActionBasicProfile();
    keepsPrivate[TagProxy(0x0009, 0x1001)] = "K";
    const auto& basic = tagDeidentificationActionBasicProfile();
    const auto& relaxed = tagDeidentificationActionRelaxedProfile();
    const std::vector<Case> cases{
        {"basic", basic, false, nullptr, "YES", "REMOVED", false, "113100"},
        {"basic, pixels cleaned", basic, false, nullptr, "YES", "REMOVED", true, "113100|113101"},
        {"relaxed, pixels cleaned", relaxed, false, nullptr, "NO", "UNMODIFIED", true, ""},
        {"burned-in", basic, true, nullptr, "NO", "REMOVED"},
        {"burned-in, earlier YES", basic, true, "YES|REMOVED", "NO", "REMOVED"},
        {"relaxed", relaxed, false, nullptr, "NO", "UNMODIFIED"},
        {"relaxed over shifted dates", relaxed, false, "NO|MODIFIED", "NO", "MODIFIED"},
        {"private element kept", keepsPrivate, false, nullptr, "NO", "REMOVED"},
    };
    for (const Case& c : cases) {
        Dravelin::Test::PhiDatasetOptions options;
        options.burnedInAnnotation = c.burnedIn;
        auto dataset = Dravelin::Test::makePhiDataset(options);
        if (c.earlier) {
            const std::string earlier = c.earlier;
            dataset->putAndInsertString(DCM_PatientIdentityRemoved, earlier.substr(0, earlier.find('|')).c_str());
            dataset->putAndInsertString(DCM_LongitudinalTemporalInformationModified,
                                        earlier.substr(earlier.find('|') + 1).c_str());
        }
        dataset->putAndInsertString(DCM_AcquisitionDateTime, "20210304112233");
        dataset->putAndInsertString(DCM_AcquisitionTime, "112233");
        ASSERT_TRUE(Anonymizer(c.table, false, nullptr).apply(*dataset, c.pixelsCleaned)) << c.name;
        EXPECT_EQ(text(*dataset, DCM_PatientIdentityRemoved), c.removed) << c.name;
        std::string codes;
        DcmItem* code = nullptr;
        for (int i = 0; dataset->findAndGetSequenceItem(DCM_DeidentificationMethodCodeSequence, code, i).good(); ++i)
            codes += (i ? "|" : "") + text(*code, DCM_CodeValue);
        EXPECT_EQ(codes, c.codes) << c.name;
        OFString method;
        dataset->findAndGetOFStringArray(DCM_DeidentificationMethod, method);
        EXPECT_EQ(std::string(method.c_str()).find("Clean Pixel Data Option") != std::string::npos, c.pixelsCleaned)
            << c.name;
        EXPECT_EQ(text(*dataset, DCM_LongitudinalTemporalInformationModified), c.dates) << c.name;
        if (c.table == relaxed) {  // the time of a kept DateTime is kept with it
            EXPECT_EQ(text(*dataset, DCM_AcquisitionDateTime), "20210304112233");
            EXPECT_EQ(text(*dataset, DCM_AcquisitionTime), "112233");
        }
        const bool keptPrivate = c.table == keepsPrivate;
        EXPECT_EQ(text(*dataset, DcmTagKey(0x0009, 0x0010)), keptPrivate ? "ACME PHIMARK CREATOR" : "") << c.name;
        EXPECT_EQ(dataset->tagExists(DcmTagKey(0x0009, 0x1001)), keptPrivate) << c.name;
    }
}

}  // namespace
}  // namespace Dravelin::Dicom
