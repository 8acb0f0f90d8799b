#include "app/WebLibrary.h"

#include "app/LibraryBeside.h"

namespace tq {

WebLibrary* LoadWebLibrary(QString& why) {
    return LoadInterfaceBeside<WebLibrary>(kWebLibraryName, why);
}

}  // namespace tq
