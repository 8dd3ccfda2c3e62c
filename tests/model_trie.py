"""A plain-Python picture of the index, shared by the test models.

Field order and meaning follow the extension's index: per-node arrays indexed
by node number, one array of child node numbers grouped by parent, optional
payloads, the two video id tables and the id mode.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import List, Optional, Tuple

UUID = 0
INT32 = 1

Payload = Tuple[int, List[int], List[int]]  # (total_count, video_ids, video_counts)


@dataclass
class ModelTrie:
    node_shifts: List[int] = field(default_factory=list)
    child_labels: List[int] = field(default_factory=list)  # code points; 0 = no label
    child_transitions: List[int] = field(default_factory=list)
    payloads: List[Optional[Payload]] = field(default_factory=list)
    video_uuids: List[bytes] = field(default_factory=list)  # 16 bytes each
    video_int_ids: List[int] = field(default_factory=list)
    id_mode: int = UUID
    is_terminal: List[bool] = field(default_factory=list)

    def child_range(self, node: int) -> range:
        """Positions in child_transitions of the children of `node`."""
        begin = self.node_shifts[node]
        if node + 1 < len(self.node_shifts):
            end = self.node_shifts[node + 1]
        else:
            end = len(self.child_transitions)
        return range(begin, end)  # empty when begin >= end
