#pragma once

#include "host/properties/Parameter.h"

namespace Dravelin {

// A parameter whose value is a free-form nested block (a list of records such as servers,
// each a nested block of its own). configure() replaces the whole block when the source has
// one of this name, so records missing from the source are gone afterwards.
class BlockParameter : public ParameterBase
{
public:
    explicit BlockParameter(const QString& name, Configurable* owner = nullptr);

    const Properties& value() const { return m_value; }
    void setValue(const Properties& value);

    QString typeName() const override { return QStringLiteral("block"); }
    void configure(const Properties* properties) override;
    void configuration(Properties* properties) const override;

private:
    Properties m_value;
};

}  // namespace Dravelin
