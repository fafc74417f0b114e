#include "host/properties/Configurable.h"
#include "host/properties/Parameter.h"
#include "host/properties/PropertiesIO.h"
#include "host/properties/SubProperty.h"
#include "host/core/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace Dravelin {
namespace {

struct Inner : Configurable
{
    Parameter<int> count{"count", 1, this};
};

struct Outer : Configurable
{
    Parameter<QString> label{"label", "none", this};
    Parameter<double> scale{"scale", 0.5, this};
    Parameter<bool> enabled{"enabled", false, this};
    SubProperty<Inner> inner{"inner", this};
};

TEST(Parameters, ConfigurationRoundTripWithNestedBlock)
{
    Outer a;
    a.label = QString("name with <xml> & \"quotes\"");
    a.scale = 1e-7;
    a.enabled = true;
    a.inner->count = 2147483647;
    Properties p;
    a.configuration(&p);
    ASSERT_NE(p.subProperties("inner"), nullptr);
    EXPECT_EQ(p.subProperties("inner")->param("count").toInt(), 2147483647);

    Outer b;
    b.configure(&p);
    EXPECT_EQ(b.label.value(), a.label.value());
    EXPECT_DOUBLE_EQ(b.scale.value(), 1e-7);
    EXPECT_TRUE(b.enabled.value());
    EXPECT_EQ(b.inner->count.value(), 2147483647);

    // Absent names and an absent block leave values alone; a value of the wrong type is ignored.
    Properties partial;
    partial.setParam("scale", "not a number");
    b.configure(&partial);
    EXPECT_DOUBLE_EQ(b.scale.value(), 1e-7);
    EXPECT_EQ(b.inner->count.value(), 2147483647);
}

TEST(Parameters, ChangeSignalOnlyOnChange)
{
    Outer o;
    int changes = 0;
    const int handle = o.label.signalValueChanged.connect([&] { ++changes; });
    o.label = QString("none");
    EXPECT_EQ(changes, 0);
    o.label = QString("x");
    o.label = QString("x");
    EXPECT_EQ(changes, 1);
    o.label.signalValueChanged.disconnect(handle);
    o.label = QString("y");
    EXPECT_EQ(changes, 1);
}

TEST(Parameters, UnregisterOnDestruction)
{
    Inner owner;
    {
        Parameter<int> extra("extra", 3, &owner);
        EXPECT_EQ(owner.parameters().size(), 2u);
    }
    EXPECT_EQ(owner.parameters().size(), 1u);
    EXPECT_EQ(owner.parameter("count"), &owner.count);
}

TEST(PropertiesIO, FileRoundTripKeepsTypesOrderDuplicatesAndAttributes)
{
    Dravelin::Test::TempDir dir;
    Properties p("Profile");
    p.addParam("text", QString::fromUtf8("Müller ^ <b> & \"x\""));
    p.addParam("int", -2147483647 - 1);
    p.addParam("double", 0.1);
    p.addParam("bool", true);
    p.addParam("dup", "first");
    p.addParam("dup", "second");
    p.setParamAttribute("int", "label", "An integer");
    p.addSubProperties("child")->addParam("deep", "value");
    const QString path = dir.file("p.xml");
    ASSERT_TRUE(PropertiesIO::saveToXML(p, path, 0, "a -- comment"));
    auto loaded = PropertiesIO::loadFromXML(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(*loaded, p);
    EXPECT_EQ(loaded->param("int").userType(), QMetaType::Int);
    EXPECT_EQ(loaded->param("double").toDouble(), 0.1);
    EXPECT_EQ(loaded->param("bool").userType(), QMetaType::Bool);
    EXPECT_EQ(loaded->param("dup").toString(), "second");
    EXPECT_EQ(loaded->paramAttributes("int").value("label"), "An integer");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.xml"});
}

TEST(PropertiesIO, RejectsBrokenFilesAndSkipsUnknownElements)
{
    LogCapture log;
    EXPECT_FALSE(PropertiesIO::fromXmlString("<propertyfile><property name=\"a\"><param name=\"x\">1"));
    EXPECT_FALSE(PropertiesIO::fromXmlString("<other/>"));
    EXPECT_FALSE(PropertiesIO::fromXmlString(
        "<propertyfile><property name=\"a\"><param name=\"x\" type=\"int\">1.5</param></property></propertyfile>"));
    auto p = PropertiesIO::fromXmlString(
        "<propertyfile version=\"1\"><note>hi</note><property name=\"a\"><extra><param name=\"hidden\">1</param>"
        "</extra><param name=\"x\">v</param></property></propertyfile>");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->params().size(), 1u);
    EXPECT_EQ(p->param("x").toString(), "v");
    EXPECT_FALSE(PropertiesIO::loadFromXML("/nonexistent/file.xml"));
    EXPECT_TRUE(log.contains("Cannot open property file", 4));
}

TEST(PropertiesIO, FailedSaveKeepsTheOldFile)
{
    Dravelin::Test::TempDir dir;
    Properties p("a");
    p.addParam("x", "old");
    const QString path = dir.file("p.xml");
    ASSERT_TRUE(PropertiesIO::saveToXML(p, path));
    EXPECT_FALSE(PropertiesIO::saveToXML(p, dir.file("missing/p.xml")));
    ASSERT_TRUE(Dravelin::Test::writeFile(dir.file("file"), ""));
    EXPECT_FALSE(PropertiesIO::saveToXML(p, dir.file("file/p.xml")));
    EXPECT_EQ(PropertiesIO::loadFromXML(path)->param("x").toString(), "old");
}

}  // namespace
}  // namespace Dravelin
