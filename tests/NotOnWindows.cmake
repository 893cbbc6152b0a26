# The suites the Windows build does not run, each with the reason it says when ctest skips it. Single sources that
# are Linux's own sit in linux/ folders and are left out of the Windows build of their suite (the README lists both).
set(FERROWIND_NOT_ON_WINDOWS_directory_ad_tests
  "needs the Samba AD forest in network namespaces, a Linux-only peer")
set(FERROWIND_NOT_ON_WINDOWS_fleet_cli_test
  "runs promtool and the Perl plugin library, and stops serve-metrics with SIGTERM and SIGHUP; check-sync runs in monitor_cli_test and the Windows console events in cli_tests (windows/)")
set(FERROWIND_NOT_ON_WINDOWS_desktop_shell_test
  "checks xdg-open and xdg-mime, the Linux desktop's opener; Windows opens through ShellExecuteW")
set(FERROWIND_NOT_ON_WINDOWS_prometheus_scrape_test
  "scrapes serve-metrics with the host's Prometheus, a Linux program")
