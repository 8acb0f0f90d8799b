#include "app/NetworkLibrary.h"

#include "app/LibraryBeside.h"

namespace tq {

NetworkLibrary* LoadNetworkLibrary(QString& why) {
    return LoadInterfaceBeside<NetworkLibrary>(kNetworkLibraryName, why);
}

}  // namespace tq
