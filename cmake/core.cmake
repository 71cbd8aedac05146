# wendrel_core: everything below the windows. Platform files are chosen here;
# the headers are shared.
add_library(wendrel_core STATIC
    support/text.cpp
    support/printable_text.cpp
    mapping/failure.cpp
    mapping/external_address.cpp
    mapping/port_range.cpp
    net/url.cpp
    net/http.cpp
    net/ssdp.cpp
    net/interfaces_common.cpp
    upnp/soap.cpp
    upnp/fault.cpp
    upnp/mapping_gateway.cpp
    upnp/description.cpp
    upnp/gateway.cpp
    upnp/discovery.cpp
    upnp/port_listing.cpp
    upnp/range_delete.cpp
    upnp/gateway_status.cpp
    upnp/port_mapping.cpp
    net/ssdp_notify.cpp
    upnp/gateway_host.cpp
    upnp/pinhole.cpp
    upnp/pinhole_search.cpp
    keep/keep_file.cpp
    keep/keeper.cpp
    pcp/packet.cpp
    pcp/result_code.cpp
    pcp/client.cpp
    pcp/mapping_store.cpp
    pcp/mapping_gateway.cpp
)
target_include_directories(wendrel_core PUBLIC ${PROJECT_SOURCE_DIR})

if(WIN32)
    target_sources(wendrel_core PRIVATE net/socket_win32.cpp net/socket_wait_win32.cpp
        net/interfaces_win32.cpp net/multicast_listener_win32.cpp support/xml_msxml.cpp
        support/text_encoding_win32.cpp support/app_files_win32.cpp)
    target_link_libraries(wendrel_core PUBLIC ws2_32 iphlpapi ole32 oleaut32 uuid)
else()
    find_package(pugixml REQUIRED)
    target_sources(wendrel_core PRIVATE net/socket_posix.cpp net/socket_wait_posix.cpp
        net/interfaces_posix.cpp net/multicast_listener_posix.cpp support/xml_pugi.cpp
        support/text_encoding_posix.cpp support/app_files_posix.cpp)
    target_link_libraries(wendrel_core PUBLIC pugixml::pugixml)
endif()
