// A toolkit plugin that does nothing but leave the file "plugin-loaded" in the current folder
// once it is loaded: privilege.sh offers it where a secure-execution start must not take it.
#include <QGenericPlugin>
#include <cstdio>

namespace {

void LeaveMarker() {
    if (std::FILE* f = std::fopen("plugin-loaded", "w")) std::fclose(f);
}

[[gnu::constructor]] void MarkerLoaded() { LeaveMarker(); }

}  // namespace

class TMarkerPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "MarkerPlugin.json")
  public:
    QObject* create(const QString&, const QString&) override {
        LeaveMarker();
        return nullptr;
    }
};

#include "MarkerPlugin.moc"
