#include "host/app/AttributeText.h"
#include "host/core/LogCapture.h"
#include "host/ui/PropertiesListWidget.h"
#include "host/ui/PropertiesWidget.h"

#include <QComboBox>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace Dravelin {
namespace {

Properties serverTemplate()
{
    Properties t("Server");
    t.addParam("pacsServerHostname", QString());
    AttributeText::apply(t, "pacsServerHostname", "label: 'PACS Server Hostname'");
    t.addParam("pacsServerPort", 104);
    AttributeText::apply(t, "pacsServerPort", "label: 'PACS Server Port', min: 1, max: 32768");
    t.addParam("pacsServerCGet", false);
    t.addParam("compression", "None");
    AttributeText::apply(t, "compression", "values: 'None|JPEG Lossless|JPEG 2000'");
    t.addParam("scale", 1.5);
    AttributeText::apply(t, "scale", "min: 0.5, max: 4, decimals: 2");
    return t;
}

struct SetCase
{
    const char* name;
    QVariant value;
    bool accepted;
};

TEST(PropertiesWidget, SetValueKeepsEveryKindWithinItsLimitsAndChoices)
{
    const Properties block = serverTemplate();
    PropertiesWidget widget(&block);
    const SetCase cases[] = {
        {"pacsServerPort", 0, false},
        {"pacsServerPort", 32769, false},
        {"pacsServerPort", 2.5, false},
        {"pacsServerPort", "x", false},
        {"pacsServerPort", 32768, true},
        {"pacsServerPort", "11112", true},
        {"compression", "JPEG-LS", false},
        {"compression", "JPEG 2000", true},
        {"pacsServerCGet", "maybe", false},
        {"pacsServerCGet", "true", true},
        {"scale", 4.01, false},
        {"scale", 0.75, true},
        {"unknown", 1, false},
        {"pacsServerHostname", "pacs.local", true},
    };
    for (const SetCase& c : cases) {
        const QVariant before = widget.value(c.name);
        EXPECT_EQ(widget.setValue(c.name, c.value), c.accepted) << c.name << " = " << c.value.toString().toStdString();
        if (!c.accepted) {
            EXPECT_EQ(widget.value(c.name), before) << c.name;
        }
    }
    Properties out;
    widget.configuration(&out);
    EXPECT_EQ(out.param("pacsServerPort"), QVariant(11112));
    EXPECT_EQ(out.param("compression"), QVariant("JPEG 2000"));
    EXPECT_EQ(out.param("pacsServerCGet"), QVariant(true));
    EXPECT_EQ(out.param("scale").toDouble(), 0.75);
    EXPECT_EQ(out.paramAttributes("pacsServerPort").value("label"), "PACS Server Port");

    // Typing is held to the same limits: the spin box does not take 0.
    auto* port = qobject_cast<QSpinBox*>(widget.editor("pacsServerPort"));
    ASSERT_NE(port, nullptr);
    port->selectAll();
    QTest::keyClicks(port, "0");
    port->interpretText();
    EXPECT_GE(widget.value("pacsServerPort").toInt(), 1);
}

TEST(PropertiesWidget, LoadedValuesOutsideLimitsOrChoicesAreClampedAndLogged)
{
    Properties block = serverTemplate();
    block.setParam("pacsServerPort", 70000);
    block.setParam("compression", "Unknown");
    LogCapture log;
    PropertiesWidget widget(&block);
    EXPECT_EQ(widget.value("pacsServerPort").toInt(), 32768);
    EXPECT_EQ(widget.value("compression").toString(), "None");
    EXPECT_EQ(qobject_cast<QComboBox*>(widget.editor("compression"))->currentText(), "None");
    EXPECT_EQ(log.count("pacsServer", 2) + log.count("compression", 2), 2);
}

TEST(PropertiesListWidget, EntriesTakeTheTemplatesKindsAndNewOnesItsDefaults)
{
    PropertiesListWidget list(serverTemplate());
    Properties stored("pacsServers");
    Properties* a = stored.addSubProperties("Main");
    a->addParam("pacsServerPort", "11112");  // the settings store gives text
    a->addParam("pacsServerCGet", "true");
    a->addParam("obsolete", "dropped");
    Properties* b = stored.addSubProperties("Broken");
    b->addParam("pacsServerPort", "0");
    stored.addSubProperties("Main");  // a repeated name is skipped
    LogCapture log;
    list.setEntries(&stored);

    ASSERT_EQ(list.count(), 2);
    const Properties& main = list.entries()[0];
    EXPECT_EQ(main.param("pacsServerPort").userType(), QMetaType::Int);
    EXPECT_EQ(main.param("pacsServerPort").toInt(), 11112);
    EXPECT_EQ(main.param("pacsServerCGet"), QVariant(true));
    EXPECT_FALSE(main.hasParam("obsolete"));
    EXPECT_EQ(list.entries()[1].param("pacsServerPort").toInt(), 104);
    EXPECT_TRUE(log.contains("does not fit pacsServerPort", 2));

    EXPECT_FALSE(list.addEntry("Main"));
    EXPECT_FALSE(list.addEntry(" "));
    ASSERT_TRUE(list.addEntry("New"));
    EXPECT_EQ(list.currentIndex(), 2);
    EXPECT_EQ(list.entries()[2].param("pacsServerPort").toInt(), 104);
    // Edits of the current entry reach the list.
    EXPECT_TRUE(list.entryEditor()->setValue("pacsServerHostname", "new.local"));
    EXPECT_TRUE(list.removeEntry(1));

    Properties out("pacsServers");
    list.configuration(&out);
    ASSERT_EQ(out.allSubProperties().size(), 2u);
    EXPECT_EQ(out.allSubProperties()[1]->name(), "New");
    EXPECT_EQ(out.allSubProperties()[1]->param("pacsServerHostname").toString(), "new.local");
    EXPECT_TRUE(out.allSubProperties()[1]->paramAttributes("pacsServerPort").isEmpty());
}

}  // namespace
}  // namespace Dravelin
