#!/usr/bin/env bash
# The library does not need libbluetooth: it is not among the libraries the
# library names, and every BlueZ function it uses is a weak reference that an
# application may leave unresolved.
set -euo pipefail
library=$1
functions="sdp_close sdp_connect sdp_get_access_protos sdp_get_proto_port sdp_list_append sdp_list_free
sdp_record_free sdp_service_search_attr_req sdp_uuid16_create str2ba"

if readelf -d "$library" | grep NEEDED | grep -q bluetooth; then
  echo "the library names libbluetooth among its needed libraries"; echo "0 passed, 1 failed"; exit 1
fi
undefined=$(nm -D --undefined-only "$library")
for f in $functions; do
  grep -qE "^ +w $f\$" <<<"$undefined" || { echo "$f is not a weak reference"; echo "0 passed, 1 failed"; exit 1; }
done
echo "no libbluetooth needed; $(wc -w <<<"$functions") BlueZ functions referenced weakly"
