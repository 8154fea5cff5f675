# find_package(helligkeit CONFIG) gives helligkeit::helligkeit, the shared
# library, and helligkeit::helligkeit_static, the static one; both carry
# the folder of helligkeit.h.
include(${CMAKE_CURRENT_LIST_DIR}/helligkeit-targets.cmake)
