"""--query: the game server's own answer over UDP, with no login and no password."""
import time

import pytest

import fixture as fx

TEXT = ("hostname: My 'best' server\nmap: Strike at Karkand\ngame-type: gpm_cq\nplayers: 3\nmax-players: 16\n"
        'player: Zoë score: 12 ping: 35 team: 1\nplayer: bad\\x0aname\\xff score: -3 ping: 0 team: 2\n'
        'player: 007 score: 7 ping: 120 team: 2\n')
PLAYERS = [{'name': 'Zoë', 'score': 12, 'ping': 35, 'team': 1},
           {'name_base64': 'YmFkCm5hbWX/', 'score': -3, 'ping': 0, 'team': 2},
           {'name': '007', 'score': 7, 'ping': 120, 'team': 2}]


def test_a_reply_split_and_reordered_is_put_together(server):
    s = server('--query-split 40 --query-reorder')  # four packets, the last first
    assert s.start() == ('', '', 0) and fx.wait_until(s.running), s.log()
    assert fx.query(s.port + 1) == (TEXT, '', 0)
    assert fx.query(s.port + 1, json=True) == ({
        'ok': True, 'hostname': "My 'best' server", 'map': 'Strike at Karkand', 'game_type': 'gpm_cq',
        'num_players': 3, 'max_players': 16, 'players': PLAYERS}, 0)


def test_no_answer_ends_after_three_tries_of_a_second():
    with fx.responder() as port:
        began = time.monotonic()
        assert fx.query(port) == (f'No answer to the query on UDP port {port} in 3 s\n', '', 1)
        assert 3 <= time.monotonic() - began < 4.5


HEAD = b'splitnum\0'


@pytest.mark.parametrize('packets, line', [
    (lambda sid: [b'\0' + sid + b'split'], 'truncated packet (10 bytes)'),
    (lambda sid: [b'\0' + sid + HEAD + b'\x80' + b'x' * 3000], 'oversized packet (3015 bytes)'),
    (lambda sid: [b'\0\xff\xff\xff\xff' + HEAD + b'\x80\0\0'], 'wrong session id'),
    (lambda sid: [b'\0' + sid + HEAD + bytes([n]) + b'\0\0' for n in (0x85, 0x85)], 'duplicate packet 5'),
    (lambda sid: [b'\0' + sid + HEAD + b'\x81\0\0'], 'missing packet 0'),
], ids=['truncated', 'oversized', 'session', 'duplicate', 'missing'])
def test_a_hostile_reply_is_one_error_line(packets, line):
    with fx.responder(packets) as port:
        assert fx.query(port) == (f'Malformed query reply: {line}\n', '', 1)
