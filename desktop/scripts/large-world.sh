#!/usr/bin/env bash
# Writes a scenario with Stashbay's item at the bar's right end and ITEMS generated status items (three to an agent application, with a menu
# each) and WINDOWS generated application windows, on the default world's built-in screen, for
# measuring large worlds: `large-world.sh 1000 0 >world.json`, then `--scenario world.json`.
set -euo pipefail
if [ "$#" -ne 2 ] || ! [[ "$1" =~ ^[0-9]+$ && "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: large-world.sh ITEMS WINDOWS" >&2
  exit 2
fi
awk -v items="$1" -v windows="$2" 'BEGIN {
  split("battery magnifier globe wave tray-arrow microphone bars clipboard sun bolt arrows cloud " \
        "stopwatch calendar eye target cup tide gauge book envelope tray tally moon boat", symbol, " ")
  symbols = 25
  print "{\n  \"version\": 1,"
  print "  \"screens\": [{\"name\": \"Built-in Retina Display\","
  print "    \"frame\": {\"x\": 0, \"y\": 0, \"width\": 1512, \"height\": 982},"
  print "    \"visibleFrame\": {\"x\": 0, \"y\": 0, \"width\": 1512, \"height\": 945},"
  print "    \"safeAreaInsets\": {\"top\": 37},"
  print "    \"auxiliaryTopLeftArea\": {\"x\": 0, \"y\": 945, \"width\": 662, \"height\": 37},"
  print "    \"auxiliaryTopRightArea\": {\"x\": 850, \"y\": 945, \"width\": 662, \"height\": 37},"
  print "    \"displayNumber\": 1, \"builtIn\": true, \"backingScaleFactor\": 2}],"
  print "  \"applications\": ["
  printf "    {\"pid\": 301, \"bundleIdentifier\": \"com.apple.finder\", \"name\": \"Finder\", \"windows\": ["
  for (w = 0; w < windows; ++w)
    printf "%s\n      {\"name\": \"Window %d\", \"bounds\": {\"x\": %d, \"y\": %d, \"width\": 640, \"height\": 420}}",
      (w ? "," : ""), w + 1, 40 + (w * 7) % 800, 40 + (w * 5) % 480
  printf "]},\n    {\"pid\": 500, \"bundleIdentifier\": \"app.stashbay.Stashbay\", \"agent\": true, \"name\": \"Stashbay\", \"statusItems\": [{\"title\": \"Stashbay\", \"width\": 28, \"icon\": \"#FF9F0AFF\", \"symbol\": \"tray-arrow\"}]}"
  apps = int((items + 2) / 3)
  for (a = 0; a < apps; ++a) {
    printf ",\n    {\"pid\": %d, \"bundleIdentifier\": \"org.generated.App%d\", \"agent\": true, \"name\": \"App %d\", \"statusItems\": [", 1000 + a, a, a
    count = items - 3 * a < 3 ? items - 3 * a : 3
    for (i = 0; i < count; ++i) {
      n = 3 * a + i
      printf "%s\n      {\"title\": \"Item %d\", \"width\": %d, \"icon\": \"#%02X%02X%02XFF\", \"symbol\": \"%s\", \"menu\": [{\"title\": \"Item %d\", \"enabled\": false}, {\"separator\": true}, {\"title\": \"Quit App %d\"}]}",
        (i ? "," : ""), n, 24 + n % 10, 64 + (n * 37) % 192, 64 + (n * 91) % 192, 64 + (n * 53) % 192, symbol[n % symbols + 1], n, a
    }
    printf "]}"
  }
  print "\n  ],"
  print "  \"permissions\": {\"accessibility\": true, \"screenRecording\": true}"
  print "}"
}'
