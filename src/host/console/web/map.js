// The map of a network's members. Its frame holds still while the members move inside it, so the
// grid and the names do not jump with every refresh; it is fitted anew only when a member leaves
// it, until the operator pans or zooms, and from then on it is theirs until they ask for a fit.
// Names are set beside their points where they cover no other name and no point and stay inside
// the map; a name with no such place is left out and counted.
'use strict';

const MAP_SVG = 'http://www.w3.org/2000/svg';
const AXIS_LEFT = 48;          // the band left of the plot that holds the y labels
const AXIS_TOP = 18;           // the band above the plot that holds the x labels
const POINT_RADIUS = 6;
const EDGE = 10;               // a point nearer the plot's edge than this has left the frame
const FIT_ROOM = 0.12;         // the share of each side a fit leaves free, room to move in
const MIN_SPAN = 100;          // a fit shows at least this much of the world, even for one member
const MIN_SCALE = 1e-4;        // pixels per world unit
const MAX_SCALE = 40;
const GRID_SPACING = 90;       // pixels wanted between grid lines
const LABEL_CHARS = 24;        // longer names are cut on the map; the table has them whole
const LABEL_RINGS = [9, 20, 34, 52, 74];  // distances tried from the point; beyond the first, a leader
const MAX_NAMED = 150;         // more points in view leave no room for names, and take long to try
const LEADER_CLEARANCE = 10;   // pixels between a leader's label and any other point
const ZOOM_STEP = 1.25;
const PAN_STEP = 60;

function mapElement(tag, attributes) {
  const node = document.createElementNS(MAP_SVG, tag);
  for (const [name, value] of Object.entries(attributes || {})) node.setAttribute(name, value);
  return node;
}

const overlaps = (a, b) => a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;

// How far (x, y) is from the nearest point of a box.
const distanceTo = (box, x, y) =>
  Math.hypot(Math.max(box.x - x, 0, x - box.x - box.w), Math.max(box.y - y, 0, y - box.y - box.h));

// Whether the segment from (x1, y1) to (x2, y2) passes through a box: the segment clipped to
// the box's slabs, one axis at a time, leaves something.
function crossesBox(x1, y1, x2, y2, box) {
  let from = 0;
  let to = 1;
  for (const [start, delta, low, high] of [[x1, x2 - x1, box.x, box.x + box.w], [y1, y2 - y1, box.y, box.y + box.h]]) {
    if (delta === 0) {
      if (start < low || start > high) return false;
      continue;
    }
    const [t1, t2] = [(low - start) / delta, (high - start) / delta].sort((u, v) => u - v);
    from = Math.max(from, t1);
    to = Math.min(to, t2);
    if (from > to) return false;
  }
  return true;
}

function crossesSegment(a, b) {
  const side = (p, q, r) => Math.sign((q[0] - p[0]) * (r[1] - p[1]) - (q[1] - p[1]) * (r[0] - p[0]));
  return side(a[0], a[1], b[0]) !== side(a[0], a[1], b[1]) && side(b[0], b[1], a[0]) !== side(b[0], b[1], a[1]);
}

// Boxes filed by the grid cells they touch, so a test against many boxes looks at few.
class BoxIndex {
  constructor(cell) {
    this.cell = cell;
    this.cells = new Map();
  }

  // Calls `visit` with the boxes filed in the cells `box` touches (some more than once) until it
  // answers true; answers whether it did.
  some(box, visit) {
    const c = this.cell;
    for (let i = Math.floor(box.x / c); i <= Math.floor((box.x + box.w) / c); i += 1) {
      for (let j = Math.floor(box.y / c); j <= Math.floor((box.y + box.h) / c); j += 1) {
        const boxes = this.cells.get(i * 65536 + j);
        if (boxes && boxes.some(visit)) return true;
      }
    }
    return false;
  }

  add(box) {
    const c = this.cell;
    for (let i = Math.floor(box.x / c); i <= Math.floor((box.x + box.w) / c); i += 1) {
      for (let j = Math.floor(box.y / c); j <= Math.floor((box.y + box.h) / c); j += 1) {
        const key = i * 65536 + j;
        if (!this.cells.has(key)) this.cells.set(key, []);
        this.cells.get(key).push(box);
      }
    }
  }
}

// Grid steps of 1, 2 or 5 times a power of ten, never below one world unit.
function roundStep(raw) {
  const power = 10 ** Math.floor(Math.log10(raw));
  const mantissa = raw / power;
  return Math.max(1, (mantissa <= 1 ? 1 : mantissa <= 2 ? 2 : mantissa <= 5 ? 5 : 10) * power);
}

const axisText = (value) => (Math.abs(value) >= 100000 ? value / 1000 + 'k' : String(value));

function labelText(name) {
  const chars = [...name];
  return chars.length > LABEL_CHARS ? chars.slice(0, LABEL_CHARS - 1).join('') + '…' : name;
}

// Where a label of w by h may sit around its point: to the right first, as one reads, then left,
// the diagonals, above and below; nearest ring first.
function labelSpots(w, h) {
  const spots = [];
  for (const [ring, d] of LABEL_RINGS.entries()) {
    const e = d * 0.8;  // diagonals: the box's corner clears the point
    spots.push(
      { dx: d, dy: -h / 2, ring }, { dx: -d - w, dy: -h / 2, ring },
      { dx: e, dy: -e - h, ring }, { dx: e, dy: e, ring },
      { dx: -e - w, dy: -e - h, ring }, { dx: -e - w, dy: e, ring },
      { dx: -w / 2, dy: -d - h, ring }, { dx: -w / 2, dy: d, ring },
    );
  }
  return spots;
}

class MemberMap {
  constructor(svg, note) {
    this.svg = svg;
    this.note = note;
    this.members = [];
    this.unplaced = 0;
    this.view = null;      // { cx, cy, scale }: the world point at the plot's centre, pixels per unit
    this.follow = true;    // the frame is fitted again when a member leaves it
    this.spots = new Map();   // name -> the spot its label had, tried first so labels stay put
    this.widths = new Map();  // label text -> its width in pixels
    this.drag = null;
    this.pending = false;
    this.listen();
    new ResizeObserver(() => this.redraw()).observe(svg);
  }

  // The members to draw; the frame stays unless one has left it. A member who has sent no report
  // yet has no place to be drawn at, so it is only counted. A report of all zeros is a place.
  show(members) {
    this.members = members.filter((m) => m.reported);
    this.unplaced = members.length - this.members.length;
    this.redraw();
  }

  // Another network or facet: a frame of its own.
  reset() {
    this.view = null;
    this.follow = true;
    this.spots.clear();
    this.redraw();
  }

  fit() {
    this.view = null;
    this.follow = true;
    this.redraw();
  }

  // Zooms by `factor` keeping the world point under (px, py) where it is.
  zoom(factor, px, py) {
    if (!this.view) return;
    const plot = this.plot();
    const at = this.unproject(px ?? (plot.left + plot.right) / 2, py ?? (plot.top + plot.bottom) / 2);
    const scale = Math.min(MAX_SCALE, Math.max(MIN_SCALE, this.view.scale * factor));
    const kept = scale / this.view.scale;
    this.view = {
      cx: at[0] - (at[0] - this.view.cx) / kept,
      cy: at[1] - (at[1] - this.view.cy) / kept,
      scale,
    };
    this.follow = false;
    this.redraw();
  }

  // Moves the drawing by (dx, dy) pixels.
  pan(dx, dy) {
    if (!this.view) return;
    this.view = { cx: this.view.cx - dx / this.view.scale, cy: this.view.cy - dy / this.view.scale, scale: this.view.scale };
    this.follow = false;
    this.redraw();
  }

  listen() {
    const svg = this.svg;
    const local = (event) => {
      const box = svg.getBoundingClientRect();
      return [event.clientX - box.left, event.clientY - box.top];
    };
    svg.addEventListener('pointerdown', (event) => {
      if (event.button !== 0) return;
      this.drag = local(event);
      svg.setPointerCapture(event.pointerId);
      svg.classList.add('dragging');
    });
    svg.addEventListener('pointermove', (event) => {
      if (!this.drag) return;
      const [x, y] = local(event);
      if (x === this.drag[0] && y === this.drag[1]) return;  // a click is not a pan
      this.pan(x - this.drag[0], y - this.drag[1]);
      this.drag = [x, y];
    });
    const stop = () => {
      this.drag = null;
      svg.classList.remove('dragging');
    };
    svg.addEventListener('pointerup', stop);
    svg.addEventListener('pointercancel', stop);
    svg.addEventListener('wheel', (event) => {
      event.preventDefault();
      const pixels = event.deltaY * (event.deltaMode === 1 ? 33 : event.deltaMode === 2 ? 400 : 1);
      this.zoom(Math.exp(-pixels * 0.002), ...local(event));
    }, { passive: false });
    svg.addEventListener('keydown', (event) => {
      const keys = {
        ArrowLeft: () => this.pan(PAN_STEP, 0), ArrowRight: () => this.pan(-PAN_STEP, 0),
        ArrowUp: () => this.pan(0, PAN_STEP), ArrowDown: () => this.pan(0, -PAN_STEP),
        '+': () => this.zoom(ZOOM_STEP), '=': () => this.zoom(ZOOM_STEP),
        '-': () => this.zoom(1 / ZOOM_STEP), 0: () => this.fit(), f: () => this.fit(),
      };
      if (event.ctrlKey || event.metaKey || event.altKey || !keys[event.key]) return;
      event.preventDefault();
      keys[event.key]();
    });
  }

  // Draws once per frame however many changes come in it.
  redraw() {
    if (this.pending) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.draw();
    });
  }

  plot() {
    const { width, height } = this.size;
    return { left: AXIS_LEFT, top: AXIS_TOP, right: width - 1, bottom: height - 1 };
  }

  project(x, y) {
    const p = this.plot();
    const { cx, cy, scale } = this.view;
    return [(p.left + p.right) / 2 + (x - cx) * scale, (p.top + p.bottom) / 2 + (y - cy) * scale];
  }

  unproject(px, py) {
    const p = this.plot();
    const { cx, cy, scale } = this.view;
    return [cx + (px - (p.left + p.right) / 2) / scale, cy + (py - (p.top + p.bottom) / 2) / scale];
  }

  inside(px, py, margin) {
    const p = this.plot();
    return px >= p.left + margin && px <= p.right - margin && py >= p.top + margin && py <= p.bottom - margin;
  }

  fitted() {
    const xs = this.members.map((m) => m.x);
    const ys = this.members.map((m) => m.y);
    const [minX, maxX, minY, maxY] = [Math.min(...xs), Math.max(...xs), Math.min(...ys), Math.max(...ys)];
    const p = this.plot();
    const room = 1 - 2 * FIT_ROOM;
    const scale = Math.min((p.right - p.left) * room / Math.max(maxX - minX, MIN_SPAN),
      (p.bottom - p.top) * room / Math.max(maxY - minY, MIN_SPAN));
    return { cx: (minX + maxX) / 2, cy: (minY + maxY) / 2, scale: Math.min(MAX_SCALE, Math.max(MIN_SCALE, scale)) };
  }

  draw() {
    const box = this.svg.getBoundingClientRect();
    if (box.width < 100 || box.height < 100) return;  // hidden, or not laid out yet
    this.size = { width: Math.round(box.width), height: Math.round(box.height) };
    const { width, height } = this.size;
    this.svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
    this.svg.replaceChildren();
    const waiting = this.unplaced > 0 ? `${this.unplaced} without a position yet` : '';
    if (this.members.length === 0) {
      const empty = mapElement('text', { x: width / 2, y: height / 2, 'text-anchor': 'middle', class: 'empty' });
      empty.textContent = 'No member has reported a position.';
      this.svg.append(empty);
      this.note.textContent = waiting;
      return;
    }
    const away = (m) => !this.inside(...this.project(m.x, m.y), EDGE);
    if (!this.view || (this.follow && this.members.some(away))) this.view = this.fitted();
    this.svg.dataset.follow = this.follow;

    const p = this.plot();
    const clip = mapElement('clipPath', { id: 'map-plot' });
    clip.append(mapElement('rect', { x: p.left, y: p.top, width: p.right - p.left, height: p.bottom - p.top }));
    this.svg.append(clip, mapElement('rect', {
      class: 'plot', x: p.left, y: p.top, width: p.right - p.left, height: p.bottom - p.top,
    }));
    this.drawGrid();
    const points = mapElement('g', { 'clip-path': 'url(#map-plot)' });
    this.svg.append(points);
    const shown = [];
    for (const m of this.members) {
      const [px, py] = this.project(m.x, m.y);
      if (!this.inside(px, py, -POINT_RADIUS)) continue;
      const group = mapElement('g', { class: 'member', transform: `translate(${px.toFixed(1)} ${py.toFixed(1)})` });
      if (m.inBattle) group.classList.add('battle');
      if (m.isDead) group.classList.add('dead');
      group.dataset.name = m.name;
      group.dataset.x = m.x;
      group.dataset.y = m.y;
      const title = mapElement('title');
      title.textContent = `${m.name}: ${m.x}, ${m.y}, facet ${m.facet}, HP ${m.hp}` +
        (m.inBattle ? ', in battle' : '') + (m.isDead ? ', dead' : '');
      group.append(title, mapElement('circle', { r: POINT_RADIUS }));
      if (m.isDead) {
        group.append(mapElement('line', { class: 'cross', x1: -3, y1: -3, x2: 3, y2: 3 }),
          mapElement('line', { class: 'cross', x1: -3, y1: 3, x2: 3, y2: -3 }));
      }
      points.append(group);
      if (this.inside(px, py, 0)) shown.push({ m, px, py, group });
    }
    const hidden = shown.length > MAX_NAMED ? shown.length : this.placeLabels(shown);
    const outside = this.members.length - shown.length;
    this.note.textContent = [
      waiting,
      outside > 0 ? `${outside} outside the view` : '',
      hidden > 0 ? `${hidden} ${hidden === 1 ? 'name' : 'names'} left out: zoom in` : '',
    ].filter(Boolean).join('; ');
  }

  // Faint lines at round coordinates, their values in the bands left of and above the plot.
  drawGrid() {
    const p = this.plot();
    const step = roundStep(GRID_SPACING / this.view.scale);
    const [x0, y0] = this.unproject(p.left, p.top);
    const [x1, y1] = this.unproject(p.right, p.bottom);
    const lines = mapElement('g', { class: 'grid' });
    const labels = mapElement('g', { class: 'axis' });
    const label = (x, y, anchor, value) => {
      const text = mapElement('text', { x, y, 'text-anchor': anchor });
      text.textContent = axisText(value);
      labels.append(text);
    };
    for (let x = Math.ceil(x0 / step) * step; x <= x1; x += step) {
      const [px] = this.project(x, 0);
      lines.append(mapElement('line', { x1: px, y1: p.top, x2: px, y2: p.bottom }));
      const half = axisText(x).length * 3.5;
      if (px - half >= p.left && px + half <= p.right) label(px, AXIS_TOP - 5, 'middle', x);
    }
    for (let y = Math.ceil(y0 / step) * step; y <= y1; y += step) {
      const [, py] = this.project(0, y);
      lines.append(mapElement('line', { x1: p.left, y1: py, x2: p.right, y2: py }));
      if (py - 6 >= p.top && py + 6 <= p.bottom) label(AXIS_LEFT - 5, py + 3.5, 'end', y);
    }
    this.svg.append(lines, labels);
  }

  // Greedy placement, in the order of the names so that a crowd is laid out the same way each
  // time: each label takes the first spot around its point that stays inside the plot, meets no
  // point, label or leader placed before it, is plainly its own point's, and whose leader
  // crosses no point, label or leader. Returns how many found none.
  placeLabels(shown) {
    const p = this.plot();
    const taken = new BoxIndex(64);
    const r = POINT_RADIUS + 1;
    for (const { m, px, py } of shown) taken.add({ x: px - r, y: py - r, w: 2 * r, h: 2 * r, owner: m.name, px, py });
    const leaders = [];
    const metrics = this.measure(shown.map(({ m }) => labelText(m.name)));
    const { h, baseline } = metrics;

    const fits = (box, m, px, py, leader) => {
      if (box.x < p.left + 1 || box.y < p.top + 1 || box.x + box.w > p.right - 1 || box.y + box.h > p.bottom - 1) return false;
      // Beside its point a label must be nearer it than any other point; at the end of a leader,
      // which names its point, it keeps a little way off the others.
      const own = leader ? LEADER_CLEARANCE : distanceTo(box, px, py);
      const reach = { x: box.x - own - r, y: box.y - own - r, w: box.w + 2 * (own + r), h: box.h + 2 * (own + r) };
      const spaced = { x: box.x - 1, y: box.y - 1, w: box.w + 2, h: box.h + 2 };
      if (taken.some(reach, (other) => overlaps(spaced, other) ||
        (other.px !== undefined && other.owner !== m.name && distanceTo(box, other.px, other.py) <= own))) return false;
      if (leaders.some(([[x1, y1], [x2, y2]]) => crossesBox(x1, y1, x2, y2, box))) return false;
      if (!leader) return true;
      const [[x1, y1], [x2, y2]] = leader;
      const span = { x: Math.min(x1, x2), y: Math.min(y1, y2), w: Math.abs(x2 - x1), h: Math.abs(y2 - y1) };
      if (taken.some(span, (other) => other.owner !== m.name && crossesBox(x1, y1, x2, y2, other))) return false;
      return !leaders.some((drawn) => crossesSegment(drawn, leader));
    };

    let hidden = 0;
    const byName = [...shown].sort((a, b) => (a.m.name < b.m.name ? -1 : a.m.name > b.m.name ? 1 : 0));
    for (const { m, px, py, group } of byName) {
      const text = labelText(m.name);
      const w = this.widths.get(text);
      const spots = labelSpots(w, h);
      // Nearest ring first; within a ring, the spot the label had before, so labels stay put.
      const order = [...spots.keys()];
      const had = this.spots.get(m.name);
      if (had !== undefined) {
        order.splice(had, 1);
        order.splice(spots.findIndex((spot) => spot.ring === spots[had].ring), 0, had);
      }
      let chosen = null;
      for (const i of order) {
        const { dx, dy, ring } = spots[i];
        // A leader runs from the point's rim to the nearest point of the label's box.
        const tx = Math.min(Math.max(0, dx), dx + w);
        const ty = Math.min(Math.max(0, dy), dy + h);
        const length = Math.hypot(tx, ty);
        const leader = ring > 0 ? [[px + (tx / length) * POINT_RADIUS, py + (ty / length) * POINT_RADIUS], [px + tx, py + ty]] : null;
        const box = { x: px + dx, y: py + dy, w, h, owner: m.name };
        if (!fits(box, m, px, py, leader)) continue;
        taken.add(box);
        if (leader) leaders.push(leader);
        chosen = { i, dx, dy, leader };
        break;
      }
      if (!chosen) {
        hidden += 1;
        this.spots.delete(m.name);
        continue;
      }
      this.spots.set(m.name, chosen.i);
      if (chosen.leader) {
        const [[x1, y1], [x2, y2]] = chosen.leader;
        group.append(mapElement('line', {
          class: 'leader', x1: (x1 - px).toFixed(1), y1: (y1 - py).toFixed(1), x2: (x2 - px).toFixed(1), y2: (y2 - py).toFixed(1),
        }));
      }
      const label = mapElement('text', { class: 'label', x: chosen.dx.toFixed(1), y: (chosen.dy + baseline).toFixed(1) });
      label.textContent = text;
      group.append(label);
    }
    if (this.spots.size > 4 * shown.length + 100) this.spots.clear();
    return hidden;
  }

  // Widths of the label texts not measured before, and the height and baseline every label shares.
  measure(texts) {
    const probe = mapElement('text', { class: 'label', x: 0, y: 0, visibility: 'hidden' });
    this.svg.append(probe);
    if (this.widths.size > 5000) this.widths.clear();
    for (const text of texts) {
      if (this.widths.has(text)) continue;
      probe.textContent = text;
      this.widths.set(text, Math.ceil(probe.getComputedTextLength()) + 1);
    }
    probe.textContent = 'Ág';
    const box = probe.getBBox();
    probe.remove();
    return { h: Math.ceil(box.height), baseline: -box.y };
  }
}
