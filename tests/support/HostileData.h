#pragma once

#include <QByteArray>

namespace Dravelin::Test {

// Hand-made encoded DICOM that once crashed or stalled the readers.
namespace HostileData {

enum class Nesting {
    ExplicitLittle,  // file meta, undefined-length SQ and items
    ExplicitBig,     // file meta, big endian
    ImplicitNoMeta,  // no preamble, no meta group
    DefinedLength,   // file meta, every sequence and item with its length
    UnknownVr,       // file meta, undefined-length UN values (read as implicit sequences)
};

// A patient's name and ID, then `levels` sequences each inside the previous one's item.
QByteArray nestedSequences(int levels, Nesting nesting);

// A file meta group declaring `transferSyntax`, followed by `dataset`.
QByteArray withMeta(const char* transferSyntax, const QByteArray& dataset);

}  // namespace HostileData
}  // namespace Dravelin::Test
