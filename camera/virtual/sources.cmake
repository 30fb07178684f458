# The virtual camera: media source, device layer, scripted reader, demo devices.
target_sources(snaplark_virtual PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/virtual_media_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/virtual_devices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scripted_source_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/demo_devices.cpp
)
target_link_libraries(snaplark_virtual PUBLIC mfreadwrite)
