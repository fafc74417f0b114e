#include "host/plugin/PluginLoader.h"

#include "host/app/FactoryRegistry.h"
#include "host/core/Log.h"
#include "host/core/NaturalOrder.h"
#include "host/plugin/DravelinLibPlugin.h"
#include "host/plugin/PluginAutoRegistrationGuard.h"
#include "host/plugin/PluginDescriptor.h"

#include <QDir>
#include <QFileInfo>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <set>

namespace Dravelin {

namespace {

using CreateFunction = PluginBase* (*)();
using IdFunction = const char* (*)();

void logBroken(const QString& message)
{
    Log::log(4, "PluginLoader", message);
}

// A copy that owns its characters: text a plug-in returns may point into the plug-in's
// read-only data (QStringLiteral), which disappears when the library is unloaded.
QString ownCopy(const QString& text)
{
    return text.isNull() ? QString() : QString(text.constData(), text.size());
}

QString dlerrorText()
{
    const char* e = dlerror();
    return e ? QString::fromUtf8(e) : QStringLiteral("unknown error");
}

// The part [offset, offset + count * size) lies within a file of `length` bytes.
bool within(std::uint64_t offset, std::uint64_t count, std::uint64_t size, std::uint64_t length)
{
    return offset <= length && (size == 0 || count <= (length - offset) / size);
}

bool readAt(int fd, void* buffer, std::size_t size, std::uint64_t offset)
{
    return ::pread(fd, buffer, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// Why the file cannot be a whole 64-bit shared library; empty when it may be. The loader maps the
// file's segments and touches them: a part past the end of a cut-short file would kill the
// process (SIGBUS) instead of failing.
QString elfProblem(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat info;
    Elf64_Ehdr header;
    QString problem;
    if (::fstat(fd, &info) != 0) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISREG(info.st_mode)) {
        problem = QStringLiteral("not a regular file");
    } else if (info.st_size < static_cast<off_t>(sizeof header) || !readAt(fd, &header, sizeof header, 0)) {
        problem = QStringLiteral("%1 bytes, too short for a shared library").arg(info.st_size);
    } else if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
        problem = QStringLiteral("not an ELF file");
    } else if (header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_type != ET_DYN) {
        problem = QStringLiteral("not a 64-bit shared library");
    } else {
        const auto length = static_cast<std::uint64_t>(info.st_size);
        if (header.e_phentsize != sizeof(Elf64_Phdr) ||
            !within(header.e_phoff, header.e_phnum, sizeof(Elf64_Phdr), length))
            problem = QStringLiteral("its program header table lies outside its %1 bytes").arg(length);
        else if (header.e_shnum > 0 && (header.e_shentsize != sizeof(Elf64_Shdr) ||
                                        !within(header.e_shoff, header.e_shnum, sizeof(Elf64_Shdr), length)))
            problem = QStringLiteral("its section header table lies outside its %1 bytes").arg(length);
        for (int i = 0; problem.isEmpty() && i < header.e_phnum; ++i) {
            Elf64_Phdr segment;
            if (!readAt(fd, &segment, sizeof segment, header.e_phoff + std::uint64_t(i) * sizeof segment))
                problem = QStringLiteral("its program headers cannot be read");
            else if (segment.p_type == PT_LOAD && !within(segment.p_offset, 1, segment.p_filesz, length))
                problem = QStringLiteral("cut short: segment %1 ends at byte %2 of %3")
                              .arg(i)
                              .arg(segment.p_offset + segment.p_filesz)
                              .arg(length);
        }
        for (int i = 0; problem.isEmpty() && i < header.e_shnum; ++i) {
            Elf64_Shdr section;
            if (!readAt(fd, &section, sizeof section, header.e_shoff + std::uint64_t(i) * sizeof section))
                problem = QStringLiteral("its section headers cannot be read");
            else if (section.sh_type != SHT_NOBITS && !within(section.sh_offset, 1, section.sh_size, length))
                problem = QStringLiteral("cut short: section %1 ends at byte %2 of %3")
                              .arg(i)
                              .arg(section.sh_offset + section.sh_size)
                              .arg(length);
        }
    }
    ::close(fd);
    return problem;
}

}  // namespace

struct PluginLoader::Loaded
{
    Info info;
    void* handle = nullptr;
    std::unique_ptr<PluginBase> plugin;
};

struct PluginLoader::Candidate
{
    Info info;
    void* handle = nullptr;
    CreateFunction create = nullptr;
    std::unique_ptr<PluginBase> plugin;
};

PluginLoader::PluginLoader(FactoryRegistry* registry) : m_registry(registry ? registry : &FactoryRegistry::global()) {}

PluginLoader::~PluginLoader()
{
    unloadAll();
}

int PluginLoader::loadFolder(const QString& folder)
{
    QDir dir(folder);
    if (!dir.exists()) {
        Log::log(3, "PluginLoader", "Plug-in folder does not exist: " + folder);
        return 0;
    }
    QStringList paths;
    for (const QFileInfo& f : dir.entryInfoList({QStringLiteral("*.so")}, QDir::Files))
        paths << f.absoluteFilePath();
    const QCollator collator = naturalOrderCollator();
    std::sort(paths.begin(), paths.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    return loadFiles(paths);
}

bool PluginLoader::open(const QString& path, Candidate& c)
{
    c.info.path = path;
    if (const QString problem = elfProblem(path); !problem.isEmpty()) {
        logBroken(QStringLiteral("Cannot load plug-in %1: %2").arg(path, problem));
        return false;
    }
    const QStringList before = PluginAutoRegistrationGuard::announcedIds();
    dlerror();
    c.handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!c.handle) {
        logBroken(QStringLiteral("Cannot load plug-in %1: %2").arg(path, dlerrorText()));
        return false;
    }
    auto fail = [&](const QString& reason) {
        logBroken(QStringLiteral("Plug-in %1 refused: %2").arg(path, reason));
        dlclose(c.handle);
        c.handle = nullptr;
        return false;
    };

    auto* descriptor = static_cast<const char* const*>(dlsym(c.handle, "dravelinPluginDescriptor"));
    if (!descriptor || !*descriptor)
        return fail(QStringLiteral("no dravelinPluginDescriptor"));
    const PluginDescriptor d = PluginDescriptor::parse(QString::fromUtf8(*descriptor));
    if (const QString why = d.incompatibility(); !why.isEmpty())
        return fail(why);
    c.info.pluginVersion = d.fields.value(QStringLiteral("pluginversion"));

    c.create = reinterpret_cast<CreateFunction>(dlsym(c.handle, "dravelinCreatePlugin"));
    auto idFunction = reinterpret_cast<IdFunction>(dlsym(c.handle, "dravelinPluginId"));
    if (!c.create)
        return fail(QStringLiteral("no dravelinCreatePlugin"));
    if (!idFunction)
        return fail(QStringLiteral("no dravelinPluginId"));
    const char* id = idFunction();
    c.info.id = id ? QString::fromUtf8(id) : QString();
    if (c.info.id.isEmpty())
        return fail(QStringLiteral("empty plug-in id"));

    QStringList announced = PluginAutoRegistrationGuard::announcedIds();
    for (const QString& old : before)
        announced.removeOne(old);
    if (announced.isEmpty())
        Log::log(1, "PluginLoader", "Plug-in " + c.info.id + " has no registration guard");
    else if (!announced.contains(c.info.id))
        return fail(QStringLiteral("its guard announces '%1' but dravelinPluginId returns '%2'")
                        .arg(announced.join(QLatin1Char(',')), c.info.id));
    return true;
}

int PluginLoader::loadFiles(const QStringList& paths)
{
    std::vector<std::unique_ptr<Candidate>> candidates;
    std::set<QString> ids;
    for (const auto& l : m_loaded)
        ids.insert(l->info.id);

    auto drop = [](Candidate& c) {
        c.plugin.reset();
        if (c.handle)
            dlclose(c.handle);
        c.handle = nullptr;
    };

    for (const QString& path : paths) {
        auto c = std::make_unique<Candidate>();
        if (!open(path, *c))
            continue;
        if (ids.count(c->info.id)) {
            logBroken(QStringLiteral("Plug-in %1 refused: id %2 is already loaded").arg(path, c->info.id));
            drop(*c);
            continue;
        }
        try {
            c->plugin.reset(c->create());
        } catch (const std::exception& e) {
            logBroken(
                QStringLiteral("Plug-in %1 could not be created: %2").arg(c->info.id, QString::fromUtf8(e.what())));
        } catch (...) {
            logBroken(QStringLiteral("Plug-in %1 could not be created").arg(c->info.id));
        }
        if (!c->plugin) {
            drop(*c);
            continue;
        }
        c->plugin->setPluginId(c->info.id);
        try {
            c->info.author = ownCopy(c->plugin->author());
            c->info.description = ownCopy(c->plugin->description());
            for (const QString& dependency : c->plugin->dependencies())
                c->info.dependencies << ownCopy(dependency);
        } catch (...) {
            logBroken(QStringLiteral("Plug-in %1 cannot describe itself").arg(c->info.id));
            drop(*c);
            continue;
        }
        ids.insert(c->info.id);
        candidates.push_back(std::move(c));
    }

    // Dependency order: repeatedly take the first candidate (in file order) whose dependencies
    // are all initialised; what remains has an unknown or failed dependency, or a cycle.
    auto isLoaded = [this](const QString& id) {
        return std::any_of(m_loaded.begin(), m_loaded.end(), [&](const auto& l) { return l->info.id == id; });
    };
    int initialised = 0;
    std::set<QString> failed;
    bool progress = true;
    while (progress) {
        progress = false;
        for (auto& c : candidates) {
            if (!c->plugin)
                continue;
            const QStringList& deps = c->info.dependencies;
            auto missing = std::find_if(deps.begin(), deps.end(),
                                        [&](const QString& d) { return failed.count(d) || !ids.count(d); });
            if (missing != deps.end()) {
                logBroken(QStringLiteral("Plug-in %1 not loaded: it needs %2, which %3")
                              .arg(c->info.id, *missing,
                                   failed.count(*missing) ? QStringLiteral("failed to load")
                                                          : QStringLiteral("is not available")));
                failed.insert(c->info.id);
                drop(*c);
                progress = true;
                continue;
            }
            if (!std::all_of(deps.begin(), deps.end(), isLoaded))
                continue;

            PluginBase* plugin = c->plugin.get();
            if (auto* lib = dynamic_cast<DravelinLibPlugin*>(plugin)) {
                lib->setFactoryRegistry(m_registry);
                if (m_application)
                    lib->setApplicationController(*m_application);
            }
            int status = -1;
            QString error;
            try {
                status = plugin->init();
            } catch (const std::exception& e) {
                error = QString::fromUtf8(e.what());
            } catch (...) {
                error = QStringLiteral("unknown exception");
            }
            progress = true;
            if (status != 0 || !error.isEmpty()) {
                logBroken(
                    error.isEmpty()
                        ? QStringLiteral("Plug-in %1 failed to initialise (status %2)").arg(c->info.id).arg(status)
                        : QStringLiteral("Plug-in %1 failed to initialise: %2").arg(c->info.id, error));
                m_registry->removeFactoriesOf(c->info.id);
                failed.insert(c->info.id);
                drop(*c);
                continue;
            }
            auto loaded = std::make_unique<Loaded>();
            loaded->info = c->info;
            loaded->handle = c->handle;
            loaded->plugin = std::move(c->plugin);
            c->handle = nullptr;
            Log::log(1, "PluginLoader",
                     QStringLiteral("Loaded plug-in %1 from %2").arg(loaded->info.id, loaded->info.path));
            m_loaded.push_back(std::move(loaded));
            ++initialised;
        }
    }
    for (auto& c : candidates) {
        if (!c->plugin)
            continue;
        logBroken(QStringLiteral("Plug-in %1 not loaded: its dependencies form a cycle").arg(c->info.id));
        drop(*c);
    }
    return initialised;
}

void PluginLoader::unload(Loaded& l)
{
    // Factories and the plug-in object run the library's code: both go before the library.
    m_registry->removeFactoriesOf(l.info.id);
    try {
        l.plugin.reset();
    } catch (...) {
        logBroken("Plug-in " + l.info.id + " threw while being deleted");
    }
    if (l.handle && dlclose(l.handle) != 0)
        Log::log(3, "PluginLoader", "Cannot unload plug-in " + l.info.id + ": " + dlerrorText());
    l.handle = nullptr;
}

void PluginLoader::unloadAll()
{
    while (!m_loaded.empty()) {
        unload(*m_loaded.back());
        m_loaded.pop_back();
    }
}

std::vector<PluginLoader::Info> PluginLoader::plugins() const
{
    std::vector<Info> result;
    for (const auto& l : m_loaded)
        result.push_back(l->info);
    return result;
}

PluginBase* PluginLoader::plugin(const QString& id) const
{
    for (const auto& l : m_loaded)
        if (l->info.id == id)
            return l->plugin.get();
    return nullptr;
}

}  // namespace Dravelin
