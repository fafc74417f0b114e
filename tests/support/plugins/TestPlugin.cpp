// One plug-in source, built as several shared objects (see tests/CMakeLists.txt):
//   TEST_PLUGIN_ID          the plug-in's id
//   TEST_PLUGIN_DEPENDENCY  an id it depends on (optional)
//   TEST_PLUGIN_DESCRIPTOR  a descriptor text other than the host's (optional)
//   TEST_PLUGIN_THROW_INIT  init() registers a factory, then throws
//   TEST_PLUGIN_NO_CREATE   no dravelinCreatePlugin symbol
#include "host/app/AlgorithmFactory.h"
#include "host/app/FactoryRegistry.h"
#include "host/core/Log.h"
#include "host/plugin/DravelinLibPlugin.h"
#include "host/plugin/PluginAutoRegistrationGuard.h"
#include "host/plugin/PluginDescriptor.h"

#include <stdexcept>

#ifndef TEST_PLUGIN_DESCRIPTOR
#define TEST_PLUGIN_DESCRIPTOR DRAVELIN_PLUGIN_DESCRIPTOR("1.0")
#endif

namespace {

class EchoAlgorithm : public Dravelin::Algorithm
{
public:
    void compute() override { setStatus(Success); }
};

class TestPlugin : public Dravelin::DravelinLibPlugin
{
public:
    static const char* id() { return TEST_PLUGIN_ID; }

    ~TestPlugin() override
    {
        // Unloading goes in reverse order: a dependency is still there when its dependent goes.
        for (const QString& dependency : dependencies())
            if (m_initialised && !hasFactory(dependency))
                Dravelin::Log::log(4, "TestPlugin", "unloaded after its dependency");
    }

    QString author() const override { return QStringLiteral("Tests"); }

    QStringList dependencies() const override
    {
#ifdef TEST_PLUGIN_DEPENDENCY
        return {QStringLiteral(TEST_PLUGIN_DEPENDENCY)};
#else
        return {};
#endif
    }

    int init() override
    {
        // Dependencies initialise first, so their factories are registered by now.
        for (const QString& dependency : dependencies())
            if (!hasFactory(dependency))
                return 2;
        auto algorithms = std::make_unique<Dravelin::AlgorithmFactory>(QString::fromUtf8(id()));
        algorithms->registerAlgorithm<EchoAlgorithm>("Echo", "Test;Echo");
        registerFactories(std::move(algorithms), nullptr, nullptr);
#ifdef TEST_PLUGIN_THROW_INIT
        throw std::runtime_error("init refused");
#endif
        m_initialised = true;
        return 0;
    }

private:
    bool hasFactory(const QString& name) const
    {
        for (const Dravelin::AlgorithmFactory* f : factoryRegistry().algorithmFactories())
            if (f->name() == name)
                return true;
        return false;
    }

    bool m_initialised = false;
};

Dravelin::PluginAutoRegistrationGuard g_dravelinPluginLoaderGuard(&TestPlugin::id);

}  // namespace

extern "C" {
__attribute__((visibility("default"))) const char* dravelinPluginDescriptor = TEST_PLUGIN_DESCRIPTOR;
#ifndef TEST_PLUGIN_NO_CREATE
__attribute__((visibility("default"))) Dravelin::PluginBase* dravelinCreatePlugin()
{
    return new TestPlugin;
}
#endif
__attribute__((visibility("default"))) const char* dravelinPluginId()
{
    return TestPlugin::id();
}
}
