#!/usr/bin/env bash
# Front ends choose what to show of the engine's messages by their kind and caption id: none
# compares a caption or picks at a message's words.
src=$1
hits=$(grep -rnE '"(IDC_BUTTON_FILE_TO_FILE|case IDC_SCAN|compute_packet_stats|write_snapshot|prep_for_display\(\))"|SER files completed|scans were stopped|(find|rfind|starts_with)\("Error|caption(_text\([^)]*\))? *[!=]=|[!=]= *caption' \
        --include='*.h' --include='*.cpp' "$src/cli" "$src/ui" || true)
if [ -n "$hits" ]; then
  echo "front ends reading the engine's words:"; echo "$hits"; exit 1
fi
echo "front ends go by the messages' kinds"
