#include "tests/support/HostileData.h"

#include <QtEndian>

namespace Dravelin::Test::HostileData {

namespace {

constexpr quint32 kUndefined = 0xFFFFFFFFu;

struct Writer
{
    bool big = false;
    QByteArray out;

    void u16(quint16 v)
    {
        char b[2];
        big ? qToBigEndian(v, b) : qToLittleEndian(v, b);
        out.append(b, 2);
    }
    void u32(quint32 v)
    {
        char b[4];
        big ? qToBigEndian(v, b) : qToLittleEndian(v, b);
        out.append(b, 4);
    }
    void tag(quint16 group, quint16 element)
    {
        u16(group);
        u16(element);
    }
    // An explicit element; `vr` of the long-length kind gets the 32-bit length.
    void element(quint16 group, quint16 element, const char* vr, const QByteArray& value, quint32 length)
    {
        tag(group, element);
        out.append(vr, 2);
        const QByteArray v(vr, 2);
        if (v == "SQ" || v == "UN" || v == "OB") {
            u16(0);
            u32(length);
        } else {
            u16(static_cast<quint16>(length));
        }
        out.append(value);
    }
    void text(quint16 group, quint16 element, const char* vr, const QByteArray& value)
    {
        this->element(group, element, vr, value, static_cast<quint32>(value.size()));
    }
};

}  // namespace

QByteArray withMeta(const char* transferSyntax, const QByteArray& dataset)
{
    QByteArray uid(transferSyntax);
    if (uid.size() % 2)
        uid.append('\0');
    Writer meta;
    meta.text(0x0002, 0x0002, "UI", QByteArray("1.2.840.10008.5.1.4.1.1.7"));
    meta.text(0x0002, 0x0003, "UI", QByteArray("1.2.3.4"));
    meta.text(0x0002, 0x0010, "UI", uid);
    Writer group;
    group.text(0x0002, 0x0000, "UL", QByteArray::fromHex("00000000"));
    qToLittleEndian(static_cast<quint32>(meta.out.size()), group.out.data() + 8);
    return QByteArray(128, '\0') + "DICM" + group.out + meta.out + dataset;
}

QByteArray nestedSequences(int levels, Nesting nesting)
{
    Writer w;
    w.big = nesting == Nesting::ExplicitBig;
    const bool implicit = nesting == Nesting::ImplicitNoMeta;
    if (implicit) {
        w.tag(0x0010, 0x0010);
        w.u32(8);
        w.out.append("DOE^JOHN");
    } else {
        w.text(0x0010, 0x0010, "PN", "DOE^JOHN");
    }
    if (nesting == Nesting::DefinedLength) {
        Writer inner;
        inner.text(0x0010, 0x0020, "LO", "ID");
        for (int i = 0; i < levels; ++i) {
            Writer item;
            item.tag(0xFFFE, 0xE000);
            item.u32(static_cast<quint32>(inner.out.size()));
            item.out.append(inner.out);
            inner.out.clear();
            inner.element(0x0008, 0x1115, "SQ", item.out, static_cast<quint32>(item.out.size()));
        }
        w.out.append(inner.out);
    } else {
        for (int i = 0; i < levels; ++i) {
            if (implicit || (nesting == Nesting::UnknownVr && i > 0)) {
                w.tag(0x0008, 0x1115);
                w.u32(kUndefined);
            } else {
                w.element(0x0009, 0x1010, nesting == Nesting::UnknownVr ? "UN" : "SQ", {}, kUndefined);
            }
            w.tag(0xFFFE, 0xE000);
            w.u32(kUndefined);
        }
        for (int i = 0; i < levels; ++i) {
            w.tag(0xFFFE, 0xE00D);
            w.u32(0);
            w.tag(0xFFFE, 0xE0DD);
            w.u32(0);
        }
    }
    switch (nesting) {
        case Nesting::ImplicitNoMeta: return w.out;
        case Nesting::ExplicitBig: return withMeta("1.2.840.10008.1.2.2", w.out);
        default: return withMeta("1.2.840.10008.1.2.1", w.out);
    }
}

}  // namespace Dravelin::Test::HostileData
