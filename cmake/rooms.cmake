# The rooms of QM, from the bottom up, and what each may use. A room uses only
# rooms below it; the application core and the panels' rules stand beside
# each other, and the operator's windows (gui/, the only room with Qt) stand
# above both. This file is read by the build, which checks the libraries'
# links, and by check_rooms.cmake, which checks every #include.
set(QM_ROOMS platform link service site app panels gui)

set(QM_ROOM_USES_platform "")
set(QM_ROOM_USES_link platform)
set(QM_ROOM_USES_service platform link)
set(QM_ROOM_USES_site platform service)
set(QM_ROOM_USES_app platform link service site)
set(QM_ROOM_USES_panels platform service site)
set(QM_ROOM_USES_gui platform link service site app panels)

# The library each room builds. platform, link and service are built as one
# set of objects, qmcore, which the shared library exports.
set(QM_ROOM_LIBRARY_platform qm_platform)
set(QM_ROOM_LIBRARY_link qm_link)
set(QM_ROOM_LIBRARY_service qm_service)
set(QM_ROOM_LIBRARY_site qm_site)
set(QM_ROOM_LIBRARY_app qm_app)
set(QM_ROOM_LIBRARY_panels qm_panels)
set(QM_ROOM_LIBRARY_gui qm_gui)

# The rooms whose code Qt may be in.
set(QM_QT_ROOMS gui)

# Fails the configuration when a room's library links a library of a room it
# may not use, or Qt outside the Qt room. qmcore counts as the service room,
# the top of the three it is made of: a room above the service reaches link
# and platform only through it.
function(qm_check_room_links)
    foreach(room ${QM_ROOMS})
        set(library ${QM_ROOM_LIBRARY_${room}})
        if(NOT TARGET ${library})
            continue()
        endif()
        set(allowed ${room} ${QM_ROOM_USES_${room}})
        get_target_property(links ${library} LINK_LIBRARIES)
        get_target_property(interface_links ${library} INTERFACE_LINK_LIBRARIES)
        foreach(link ${links} ${interface_links})
            if(NOT link OR link MATCHES "-NOTFOUND$")
                continue()
            endif()
            set(used)
            if(link STREQUAL "qmcore")
                set(used service)
            endif()
            foreach(other ${QM_ROOMS})
                if(link STREQUAL "${QM_ROOM_LIBRARY_${other}}")
                    set(used ${other})
                endif()
            endforeach()
            foreach(other ${used})
                if(NOT other IN_LIST allowed)
                    message(FATAL_ERROR "${library} (room ${room}) links ${link}, of room ${other}, "
                                        "which lies above it or beside it")
                endif()
            endforeach()
            if(link MATCHES "^Qt[0-9]*::" AND NOT room IN_LIST QM_QT_ROOMS)
                message(FATAL_ERROR "${library} (room ${room}) links ${link}: only ${QM_QT_ROOMS} may use Qt")
            endif()
        endforeach()
    endforeach()
endfunction()
