// Reading a DICOMDIR of many records: our reader against DCMTK's directory class walked with
// getSub(i), as the scanner did before (each getSub counts from the first record).
// Usage: bench_dicomdir [IMAGES] (default 40000)
#include "host/dicom/DicomDirReader.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdicdir.h>
#include <dcmtk/dcmdata/dcdirrec.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

void put16(std::string& out, unsigned v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void put32(std::string& out, unsigned v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void element(std::string& out, unsigned group, unsigned elem, const char* vr, std::string value)
{
    if (value.size() % 2)
        value += vr[0] == 'U' && vr[1] == 'I' ? '\0' : ' ';
    put16(out, group);
    put16(out, elem);
    out.append(vr, 2);
    put16(out, static_cast<unsigned>(value.size()));
    out += value;
}

struct Record
{
    std::string type, extra;
    int next = -1, lower = -1;  // indexes
};

// Patient -> study -> series -> `images` image records, explicit little endian.
std::string makeDicomDir(int images)
{
    std::vector<Record> records;
    std::string patient, study, series;
    element(patient, 0x0010, 0x0010, "PN", "BENCH^PATIENT");
    element(patient, 0x0010, 0x0020, "LO", "BENCH");
    element(study, 0x0020, 0x000D, "UI", "1.2.826.0.1.3680043.2.1143.1");
    element(series, 0x0008, 0x0060, "CS", "CT");
    element(series, 0x0020, 0x000E, "UI", "1.2.826.0.1.3680043.2.1143.1.1");
    records.push_back({"PATIENT", patient, -1, 1});
    records.push_back({"STUDY", study, -1, 2});
    records.push_back({"SERIES", series, -1, images > 0 ? 3 : -1});
    for (int i = 0; i < images; ++i) {
        std::string image;
        element(image, 0x0004, 0x1500, "CS", "IMAGES\\IM" + std::to_string(i));
        element(image, 0x0020, 0x0013, "IS", std::to_string(i + 1));
        records.push_back({"IMAGE", image, i + 1 < images ? 4 + i : -1, -1});
    }
    std::string meta;
    element(meta, 0x0002, 0x0002, "UI", "1.2.840.10008.1.3.10");
    element(meta, 0x0002, 0x0003, "UI", "1.2.826.0.1.3680043.2.1143.9");
    element(meta, 0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1");
    std::string head(128, '\0');
    head += "DICM";
    element(head, 0x0002, 0x0000, "UL", std::string(4, '\0'));
    head.replace(head.size() - 4, 4, std::string{char(meta.size() & 0xFF), char((meta.size() >> 8) & 0xFF), 0, 0});
    head += meta;
    // Record bodies have a fixed size, so their offsets follow from the sizes alone.
    const auto body = [](const Record& r, unsigned next, unsigned lower) {
        std::string b;
        put16(b, 0x0004), put16(b, 0x1400), b += "UL", put16(b, 4), put32(b, next);
        put16(b, 0x0004), put16(b, 0x1410), b += "US", put16(b, 2), put16(b, 0xFFFF);
        put16(b, 0x0004), put16(b, 0x1420), b += "UL", put16(b, 4), put32(b, lower);
        element(b, 0x0004, 0x1430, "CS", r.type);
        return b + r.extra;
    };
    std::string dataset;
    element(dataset, 0x0004, 0x1130, "CS", "BENCH");
    const std::size_t rootFirstAt = head.size() + dataset.size() + 8;
    element(dataset, 0x0004, 0x1200, "UL", std::string(4, '\0'));
    element(dataset, 0x0004, 0x1202, "UL", std::string(4, '\0'));
    element(dataset, 0x0004, 0x1212, "US", std::string(2, '\0'));
    put16(dataset, 0x0004), put16(dataset, 0x1220), dataset += "SQ", put16(dataset, 0), put32(dataset, 0xFFFFFFFF);
    std::vector<unsigned> offsets;
    unsigned position = static_cast<unsigned>(head.size() + dataset.size());
    for (const Record& r : records) {
        offsets.push_back(position);
        position += 8 + static_cast<unsigned>(body(r, 0, 0).size());
    }
    std::string out = head + dataset;
    for (const Record& r : records) {
        const std::string b = body(r, r.next < 0 ? 0 : offsets[r.next], r.lower < 0 ? 0 : offsets[r.lower]);
        put16(out, 0xFFFE), put16(out, 0xE000), put32(out, static_cast<unsigned>(b.size()));
        out += b;
    }
    put16(out, 0xFFFE), put16(out, 0xE0DD), put32(out, 0);
    std::string root;
    put32(root, offsets[0]);
    out.replace(rootFirstAt, 4, root);
    out.replace(rootFirstAt + 12, 4, root);
    return out;
}

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int images = argc > 1 ? std::atoi(argv[1]) : 40000;
    const std::string path = "/tmp/bench-dicomdir-" + std::to_string(images);
    std::ofstream(path, std::ios::binary) << makeDicomDir(images);

    auto start = std::chrono::steady_clock::now();
    long found = 0;
    {
        DcmDicomDir dir(OFFilename(path.c_str()));
        DcmDirectoryRecord& root = dir.getRootRecord();
        for (unsigned long p = 0; p < root.cardSub(); ++p)
            for (unsigned long s = 0; s < root.getSub(p)->cardSub(); ++s)
                for (unsigned long r = 0; r < root.getSub(p)->getSub(s)->cardSub(); ++r) {
                    DcmDirectoryRecord* series = root.getSub(p)->getSub(s)->getSub(r);
                    for (unsigned long i = 0; i < series->cardSub(); ++i)
                        found += series->getSub(i) != nullptr;
                }
    }
    const double baseline = seconds(start);

    start = std::chrono::steady_clock::now();
    Dravelin::Dicom::DicomDirReader reader;
    long ours = 0;
    if (reader.readFile(path)) {
        std::vector<std::size_t> pending = reader.roots();
        while (!pending.empty()) {
            const auto& record = reader.records()[pending.back()];
            pending.pop_back();
            ours += record.type == "IMAGE";
            pending.insert(pending.end(), record.children.begin(), record.children.end());
        }
    } else {
        std::fprintf(stderr, "%s\n", reader.error().c_str());
    }
    const double ourTime = seconds(start);
    std::remove(path.c_str());
    std::printf("DICOMDIR with %d image records\n", images);
    std::printf("  DCMTK directory + getSub(i):  %8.3f s  (%ld images)\n", baseline, found);
    std::printf("  DicomDirReader:               %8.3f s  (%ld images)\n", ourTime, ours);
    std::printf("  speed-up: %.1fx\n", ourTime > 0 ? baseline / ourTime : 0.0);
    return ours == images ? 0 : 1;
}
