# shellcheck shell=bash
# Sourced by tools/test.sh: runs commands each in a process group of its own
# and, interrupted (Ctrl-C, a TERM at a time limit, a hang-up), ends every
# group still running, with whatever it started, then exits with 130, 143 or
# 129. At the exit it ends them too, so that nothing races the next run.
groups_running=() # the leaders (and group ids) of the groups not yet waited for

# apart <command...>: starts it in the background, in a new process group (job
# control gives each job its own); its pid, the group's id, is then in $!.
# Input from nowhere: a group in the background may not read the terminal.
apart() {
  set -m
  "$@" </dev/null &
  set +m
  groups_running+=("$!")
}

# await <pid>: waits for a group's leader started by apart, and returns its
# status; a signal to this shell ends the wait at once (a command in the
# foreground would be waited for to its end before the trap runs).
await() {
  wait "$1"
  local status=$? group kept=()
  for group in "${groups_running[@]}"; do [ "$group" = "$1" ] || kept+=("$group"); done
  groups_running=("${kept[@]}")
  return "$status"
}

# group_alive <pgid> [<pid>]: a process of that group, other than <pid>,
# still runs (zombies aside).
group_alive() {
  ps -e -o pid=,pgid=,stat= |
    awk -v group="$1" -v but="${2:-}" '$2 == group && $1 != but && $3 !~ /^Z/ { alive = 1 }
      END { exit !alive }'
}

# await_group <pgid> [<pid>]: waits a minute at most for group_alive to say no.
await_group() {
  local deadline=$((SECONDS + 60))
  while group_alive "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 1
  done
}

# Each group gets TERM, which lets the guest's run stop its qemu, and
# mmdebstrap unmount what it mounted; the leader, held stopped meanwhile,
# takes it last, so that its own cleanup (the image build's removal of its
# unfinished folder) comes after theirs, not in the middle of it. KILL for
# what is left a minute later. The leaders are this shell's children, not yet
# waited for: no other process can have taken their numbers.
stop_groups() {
  local group
  for group in "${groups_running[@]}"; do
    kill -STOP "$group" 2>/dev/null
    kill -TERM -- "-$group" 2>/dev/null
  done
  for group in "${groups_running[@]}"; do
    await_group "$group" "$group"
    kill -CONT "$group" 2>/dev/null
    if ! await_group "$group"; then
      echo "process group $group still there a minute after TERM: killed" >&2
      kill -KILL -- "-$group" 2>/dev/null
    fi
    wait "$group" 2>/dev/null
  done
  groups_running=()
}

# interrupted <signal> <status>: what is running ends, then this shell.
interrupted() {
  trap - INT TERM HUP
  echo >&2
  echo "$1; ending the steps still running (process groups: ${groups_running[*]:-none})" >&2
  stop_groups
  exit "$2"
}
trap 'interrupted interrupted 130' INT
trap 'interrupted terminated 143' TERM
trap 'interrupted "hung up" 129' HUP
trap stop_groups EXIT
